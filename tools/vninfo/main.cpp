// VNinfo: inspects a firmware file without a device and tells an operator
// whether VNloader could send it as it is. It writes nothing.
#include "diag/console.h"
#include "info_json.h"
#include "info_options.h"
#include "info_report.h"
#include "info_text.h"
#include "info_usage.h"
#include "fitness_check.h"
#include "platform/text_names.h"

int main(int argc, char** argv)
{
    platformUtf8Arguments(&argc, &argv);
    const int parsed = parseInfoOptions(argc, argv);
    if (parsed != INFO_ARGS_RUN) {
        // Asked for, the usage text is the output; after a usage error, it
        // goes with the error to standard error.
        writeInfoUsage(parsed == INFO_ARGS_HELP ? stdout : stderr);
        return parsed == INFO_ARGS_HELP ? INFO_FIT : INFO_USAGE;
    }
    InfoReport report{};
    inspectFile(report);
    if (infoOptions.json)
        printJson(report);
    else
        printText(report);
    // The report is the output; a file that is not fit is also a failure,
    // said in one line where a script's redirected output does not hide it.
    const int status = reportStatus(report);
    if (status != INFO_FIT)
        companionError("VNinfo: %s: status %d, %s\n", report.path.c_str(), status, statusMeaning(status));
    return status;
}
