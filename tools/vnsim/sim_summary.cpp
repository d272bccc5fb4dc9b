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

void appendSummary(const char* format, ...) VN_PRINTF(1, 2);

void appendSummary(const char* format, ...)
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
    appendSummary("%s", prefix);
    std::size_t count = simState->pages.size();
    if (count == 0)
        appendSummary("no pages received");
    else
        appendSummary("%d page%s received (%d to %d)", static_cast<int>(count), count == 1 ? "" : "s",
            simState->pages.begin()->first, simState->pages.rbegin()->first);

    if (simState->finishSeen) {
        if (simState->missingPages != 0)
            appendSummary(", %d page%s missing", simState->missingPages,
                simState->missingPages == 1 ? "" : "s");
        else
            appendSummary(", crc %s", simState->crcOk ? "ok" : "bad");
        appendSummary("%s", headerCheckText(simState->headerCheck));
    } else if (simState->finishArrived) {
        appendSummary(", finish packet refused");
    } else {
        appendSummary(", no finish packet");
        if (stopReason)
            appendSummary(" (%s)", stopReason);
    }

    bool writeFailed = false;
    if (outputPath[0] != '\0') {
        if (!simState->finishSeen || simState->finishRefused) {
            appendSummary(", no image written");
        } else if (writeImageFile(outputPath, simState->image)) {
            appendSummary(", image written to %s", outputPath);
        } else {
            appendSummary(", cannot write %s", outputPath);
            writeFailed = true;
        }
    }
    if (simState->checksFailed != 0)
        appendSummary(", %d check%s failed (first: %s)", simState->checksFailed,
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
