#include "sim_summary.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "diag/console.h"
#include "sim_device.h"
#include "sim_image.h"
#include "sim_options.h"

namespace {
char summary[1024];

void add(const char* format, ...) VN_PRINTF(1, 2);

void add(const char* format, ...)
{
    std::size_t used = std::strlen(summary);
    if (used + 1 >= sizeof summary)
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(summary + used, sizeof summary - used, format, args);
    va_end(args);
}

}  // namespace

int summarizeDevice(const char* prefix, const char* stopReason, const char* outputPath)
{
    summary[0] = '\0';
    add("%s", prefix);
    std::size_t count = simState->pages.size();
    if (count == 0)
        add("no pages received");
    else
        add("%d page%s received (%d to %d)", static_cast<int>(count), count == 1 ? "" : "s",
            simState->pages.begin()->first, simState->pages.rbegin()->first);

    if (simState->finishSeen) {
        if (simState->missingPages != 0)
            add(", %d page%s missing", simState->missingPages,
                simState->missingPages == 1 ? "" : "s");
        else
            add(", crc %s", simState->crcOk ? "ok" : "bad");
        add("%s", headerCheckText(simState->headerCheck));
    } else if (simState->finishArrived) {
        add(", finish packet refused");
    } else {
        add(", no finish packet");
        if (stopReason)
            add(" (%s)", stopReason);
    }

    bool writeFailed = false;
    if (outputPath[0] != '\0') {
        if (!simState->finishSeen) {
            add(", no image written");
        } else if (writeImageFile(outputPath, simState->image)) {
            add(", image written to %s", outputPath);
        } else {
            add(", cannot write %s", outputPath);
            writeFailed = true;
        }
    }
    if (simState->checksFailed != 0)
        add(", %d check%s failed (first: %s)", simState->checksFailed,
            simState->checksFailed == 1 ? "" : "s", simState->firstFailure);

    if (simState->checksFailed != 0 || writeFailed)
        return SIM_EXIT_CHECK_FAILED;
    return simState->finishSeen ? SIM_EXIT_OK : SIM_EXIT_NO_FINISH;
}

const char* deviceSummary()
{
    return summary;
}

int endRun(const char* stopReason)
{
    int status = summarizeDevice("VNsim: ", stopReason, simOptions.outputPath);
    consolePrint("%s\n", summary);
    return status;
}
