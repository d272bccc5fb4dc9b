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
#include "platform/output_files.h"
#include "platform/platform.h"

namespace {
// Time, host and process: no two runs share it.
std::string runId(const std::string& start)
{
    std::string id;
    for (char c : start)
        if (c != '-' && c != ':')
            id += c;
    return id + "-" + platformHostName() + "-" + std::to_string(platformProcessId());
}

RunPlan planOf(const FleetOptions& options, const std::vector<DeviceEntry>& devices,
               const std::vector<FleetImage>& images)
{
    RunPlan plan;
    plan.start = platformUtcTimeText();
    plan.id = runId(plan.start);
    plan.site = options.site;
    plan.list = options.listPath;
    plan.listSha256 = fileDigest(options.listPath);
    for (const DeviceEntry& device : devices) {
        plan.addresses.push_back(device.address);
        RunImage image{device.file, identityOf(images[static_cast<std::size_t>(device.image)], device)};
        bool known = false;
        for (const RunImage& other : plan.images)
            known = known || (other.file == image.file && sameIdentity(other.image, image.image));
        if (!known)
            plan.images.push_back(image);
    }
    plan.host = platformHostName();
    plan.version = VN_VERSION;
    return plan;
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
    // An over-size write is a write error, not the end of the process.
    platformFailOverSizeWrites();

    std::vector<DeviceEntry> devices;
    std::vector<FleetImage> images;
    Ledger report{};
    FleetRun run{&options, &devices, &images, {}, &report, {}, nullptr};
    if (!readDeviceList(options, &devices) ||
        !loadImages(options.listPath, options.allowUnfit, &devices, &images))
        return FLEET_EXIT_BAD_INPUT;
    // Nothing is written or sent before it is known that the devices can be
    // pinged.
    if (options.awaitPingS > 0) {
        char why[512];
        run.pinger = platformPingerOpen(why, sizeof why);
        if (!run.pinger) {
            std::fprintf(stderr, "VNfleet: --await-ping cannot send pings: %s\n", why);
            return FLEET_EXIT_BAD_INPUT;
        }
    }
    FleetOutputs outputs;
    if (!openOutputs(options, images, &outputs))
        return FLEET_EXIT_BAD_INPUT;
    if (outputs.resume) {
        LedgerContents earlier;
        if (!readLedgerFile(outputs.resume, options.resumePath, &earlier)) {
            dropOutputs(&outputs);
            return FLEET_EXIT_BAD_INPUT;
        }
        run.earlier = linesOfSite(earlier, options.site, options.resumePath);
    }
    if (options.dryRun) {
        dropOutputs(&outputs);
        printPlan(run);
        return FLEET_EXIT_UPDATED;
    }
    if (!platformNetStart()) {
        std::fprintf(stderr, "VNfleet: cannot start sockets\n");
        dropOutputs(&outputs);
        return FLEET_EXIT_BAD_INPUT;
    }
    startLedger(outputs.report, options.reportPath, &report);
    outputs.report = nullptr;  // the ledger closes it
    run.debugLog = outputs.debugLog;
    run.plan = planOf(options, devices, images);
    int status = runFleet(run);
    if (run.pinger)
        platformPingerClose(run.pinger);
    if (outputs.debugLog)
        std::fclose(outputs.debugLog);
    if (outputs.resume)
        std::fclose(outputs.resume);
    std::fflush(stdout);
    platformInterruptHandled();
    return status;
}
