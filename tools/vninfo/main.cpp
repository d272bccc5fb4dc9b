// VNinfo: inspects a firmware file without a device and tells an operator
// whether VNloader could send it as it is. It writes nothing.
#include <cstring>

#include "app/settings.h"
#include "diag/console.h"
#include "image/image_kinds.h"
#include "info_hex.h"
#include "info_json.h"
#include "info_options.h"
#include "info_package.h"
#include "info_raw.h"
#include "info_report.h"
#include "info_text.h"
#include "info_transfer.h"
#include "info_usage.h"

namespace {
const char* inputKindName(bool plain, std::uint8_t fileType)
{
    const ImageKind* kind = imageKindOf(fileType);
    return !plain ? "package" : kind ? kind->inputName : "html";
}

// The settings VNloader would run with for the same options.
void settingsFromOptions()
{
    resetSettings();
    settings.packagedInput = infoOptions.plain ? 0 : 1;
    settings.partialEncrypt = infoOptions.wholeEncrypt ? 0 : 1;
    std::strncpy(settings.fileName, infoOptions.path.c_str(), TEXT_FIELD_SIZE);
    settings.fileName[TEXT_FIELD_SIZE] = '\0';
}

void inspect(InfoReport& report)
{
    settingsFromOptions();
    const std::uint8_t type = infoOptions.fileType;
    if (!infoOptions.plain)
        inspectPackage(report);
    else if (type == TYPE_MAIN_HEX || type == TYPE_DSP_HEX)
        inspectHex(report, type);
    else
        inspectRaw(report, type);

    if (infoOptions.typeIgnored)
        addNote(report, "-T is ignored without -NE: the package header gives the type");
    if (infoOptions.plain && infoOptions.keyGiven)
        addNote(report, "-K is not used for a plain file");
    if (infoOptions.plain && infoOptions.wholeEncrypt)
        addNote(report, "-EA changes nothing for a plain file");
    if (report.loaderAccepted)  // as VNloader reads it: a package sets it
        planTransfer(report, static_cast<std::int8_t>(settings.fileType));
}
}  // namespace

int main(int argc, char** argv)
{
    const int parsed = parseInfoOptions(argc, argv);
    if (parsed != INFO_ARGS_RUN) {
        // Asked for, the usage text is the output; after a usage error, it
        // goes with the error to standard error.
        writeInfoUsage(parsed == INFO_ARGS_HELP ? stdout : stderr);
        return parsed == INFO_ARGS_HELP ? INFO_FIT : INFO_USAGE;
    }
    InfoReport report{};
    report.path = infoOptions.path;
    report.inputKind = inputKindName(infoOptions.plain, infoOptions.fileType);
    inspect(report);
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
