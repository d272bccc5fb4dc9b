#include "fleet_progress.h"

#include <cstdio>

#include "companion_cli.h"

namespace {
constexpr std::uint64_t REFRESH_MS = 100;
constexpr int LINE_WIDTH = 79;

bool onTerminal = false;
bool lineShown = false;
std::uint64_t lastRefreshMs = 0;

void clearLine()
{
    // Spaces over it, as not every console knows an erase sequence.
    if (lineShown)
        companionPrint("\r%*s\r", LINE_WIDTH, "");
    lineShown = false;
}
}  // namespace

void startProgress(bool terminal)
{
    onTerminal = terminal;
}

void showDeviceEnd(const DeviceResult& r)
{
    bool failed = r.result != FleetResult::UPDATED && r.result != FleetResult::SKIPPED;
    if (onTerminal && !failed)
        return;  // the progress line counts it
    clearLine();
    char back[48] = "";
    if (r.awaited && r.back)
        std::snprintf(back, sizeof back, ", back after %llu ms", r.backMs);
    if (r.reason.empty())
        companionPrint("%s %s: %s, %u pages, %u datagrams, %u resends, %llu ms%s\n", r.address.c_str(),
                       resultName(r.result), r.file.c_str(), r.pages, r.datagrams, r.resends,
                       r.milliseconds, back);
    else
        companionPrint("%s %s: %s: %s, %u pages, %u datagrams, %u resends, %llu ms\n",
                       r.address.c_str(), resultName(r.result), r.file.c_str(), r.reason.c_str(), r.pages,
                       r.datagrams, r.resends, r.milliseconds);
    std::fflush(stdout);
}

void refreshProgress(const FleetTally& t, std::uint64_t nowMs)
{
    if (!onTerminal || (lineShown && nowMs - lastRefreshMs < REFRESH_MS))
        return;
    lastRefreshMs = nowMs;
    double seconds = static_cast<double>(nowMs - t.startedMs) / 1000.0;
    double rate = seconds > 0 ? static_cast<double>(t.pagesDone) / seconds : 0.0;
    char left[32] = "--:--";
    if (rate > 0) {
        auto remaining = static_cast<unsigned long long>(
            static_cast<double>(t.pagesToSend - t.pagesDone) / rate);
        std::snprintf(left, sizeof left, "%llu:%02llu", remaining / 60, remaining % 60);
    }
    char line[2 * LINE_WIDTH];
    if (t.pinging)
        std::snprintf(line, sizeof line,
                      "%u/%u done, %u failed, %u in flight, %u rebooting, %.0f pages/s, %s left",
                      t.updated + t.skipped + t.failed + t.notBack, t.devices, t.failed + t.notBack,
                      t.inFlight, t.awaiting, rate, left);
    else
        std::snprintf(line, sizeof line, "%u/%u done, %u failed, %u in flight, %.0f pages/s, %s left",
                      t.updated + t.skipped + t.failed, t.devices, t.failed, t.inFlight, rate, left);
    companionPrint("\r%-*.*s", LINE_WIDTH, LINE_WIDTH, line);
    std::fflush(stdout);
    lineShown = true;
}

void printSummary(const FleetTally& t, std::uint64_t nowMs, const std::string& stopped)
{
    clearLine();
    if (!stopped.empty())
        companionPrint("VNfleet: no further device started: %s\n", stopped.c_str());
    unsigned ended = t.updated + t.failed + t.interrupted + t.skipped + t.notBack;
    double seconds = static_cast<double>(nowMs - t.startedMs) / 1000.0;
    if (!t.pinging) {
        companionPrint("VNfleet: %u devices: %u updated, %u failed, %u interrupted, %u skipped, "
                       "%u not started; %.1f s\n",
                       t.devices, t.updated, t.failed, t.interrupted, t.skipped, t.devices - ended,
                       seconds);
    } else {
        companionPrint("VNfleet: %u devices: %u updated, %u failed, %u interrupted, %u skipped, "
                       "%u not back, %u not started; %.1f s\n",
                       t.devices, t.updated, t.failed, t.interrupted, t.skipped, t.notBack,
                       t.devices - ended, seconds);
        companionPrint("VNfleet: %s\n", powerAdvice(t.updated - t.unconfirmed,
                                                     t.notBack + t.unconfirmed).c_str());
    }
    std::fflush(stdout);
}
