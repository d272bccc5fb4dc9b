#include "fleet_rollout.h"

#include "companion_cli.h"
#include "fleet_report.h"

RolloutGuard startRollout(const FleetOptions& options, const std::vector<bool>& skipped)
{
    RolloutGuard guard{0, 0, 0, options.canary == 0, {}, nullptr};
    for (std::size_t i = 0; i < skipped.size(); ++i) {
        if (skipped[i])
            continue;
        ++guard.toSend;
        if (guard.canaries < static_cast<unsigned>(options.canary)) {
            ++guard.canaries;
            guard.canaryEnd = i + 1;
        }
    }
    return guard;
}

bool mayStart(RolloutGuard* guard, const FleetOptions& options, std::size_t next,
              const FleetTally& tally, std::size_t inFlight)
{
    if (!guard->stopped.empty())
        return false;
    const unsigned long long allowed =
        options.maxFailedPercent >= 0
            ? static_cast<unsigned long long>(options.maxFailedPercent) * guard->toSend / 100
            : static_cast<unsigned long long>(options.maxFailed);
    // A device not back after its update counts as failed here.
    if ((options.maxFailed >= 0 || options.maxFailedPercent >= 0) &&
        tally.failed + tally.notBack > allowed) {
        guard->stopped = "more than " + countedNoun(allowed, "device") + " failed (--max-failed)";
        guard->stoppedBy = RUN_STOPPED_BY_MAX_FAILED;
        return false;
    }
    if (guard->canariesJudged || next < guard->canaryEnd)
        return true;
    if (inFlight > 0)
        return false;  // the canaries go alone
    guard->canariesJudged = true;
    if (tally.updated == guard->canaries)
        return true;
    guard->stopped = "not every canary device was updated (--canary)";
    guard->stoppedBy = RUN_STOPPED_BY_CANARY;
    return false;
}
