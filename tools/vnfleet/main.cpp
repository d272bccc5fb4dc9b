// VNfleet: updates a whole fleet of devices from one process, with the same
// code-update protocol and the same datagrams as VNloader.
#include <cstdio>

#include "fleet_images.h"
#include "fleet_ledger.h"
#include "fleet_list.h"
#include "fleet_options.h"
#include "fleet_password.h"
#include "fleet_outputs.h"
#include "fleet_plan.h"
#include "fleet_resume.h"
#include "fleet_run.h"
#include "fleet_summary.h"
#include "platform/ledger_files.h"
#include "platform/platform.h"

namespace {
std::FILE* openOutput(const std::string& path, const char* what)
{
    if (path.empty())
        return nullptr;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::fprintf(stderr, "VNfleet: cannot write the %s: %s\n", what, path.c_str());
    return file;
}
}  // namespace

int main(int argc, char** argv)
{
    FleetOptions options;
    FleetArgs parsed = parseFleetOptions(argc, argv, &options);
    if (parsed == FLEET_ARGS_HELP) {
        std::fputs(fleetUsageText().c_str(), stdout);
        return FLEET_EXIT_UPDATED;
    }
    if (parsed == FLEET_ARGS_VERSION) {
        std::puts("VNfleet " VN_VERSION);
        return FLEET_EXIT_UPDATED;
    }
    if (parsed == FLEET_ARGS_BAD)
        return FLEET_EXIT_USAGE;
    if (options.summary)
        return runSummary(options.reports, options.json);
    if (!options.passwordFile.empty() && !readPasswordFile(options.passwordFile, &options.password))
        return FLEET_EXIT_BAD_INPUT;

    std::vector<DeviceEntry> devices;
    std::vector<FleetImage> images;
    Ledger report{};
    FleetRun run{&options, &devices, &images, {}, &report, false, nullptr};
    if (!readDeviceList(options, &devices) ||
        !loadImages(options.listPath, options.allowUnfit, &devices, &images))
        return FLEET_EXIT_BAD_INPUT;
    if (!outputsAreSafe(options, images) ||
        (!options.resumePath.empty() && !readLedger(options.resumePath, &run.earlier)))
        return FLEET_EXIT_BAD_INPUT;
    if (options.dryRun) {
        printPlan(run);
        return FLEET_EXIT_UPDATED;
    }
    run.reportIsResumed = !options.resumePath.empty() && !options.reportPath.empty() &&
                          platformSameFile(options.resumePath.c_str(), options.reportPath.c_str());
    if (!openLedger(options.reportPath, &report))
        return FLEET_EXIT_BAD_INPUT;
    run.debugLog = openOutput(options.debugLogPath, "debug log");
    if (!options.debugLogPath.empty() && !run.debugLog)
        return FLEET_EXIT_BAD_INPUT;
    if (!platformNetStart()) {
        std::fprintf(stderr, "VNfleet: cannot start sockets\n");
        return FLEET_EXIT_BAD_INPUT;
    }
    int status = runFleet(run);
    if (!closeLedger(&report))
        status = FLEET_EXIT_REPORT_FAILED;
    if (run.debugLog)
        std::fclose(run.debugLog);
    std::fflush(stdout);
    platformInterruptHandled();
    return status;
}
