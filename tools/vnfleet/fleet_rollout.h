// Guards for a rollout: canary devices first and alone, and a limit on
// failures after which no further device starts.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "fleet_options.h"
#include "fleet_progress.h"

struct RolloutGuard {
    std::size_t canaryEnd;  // devices before this index are the canaries
    unsigned canaries;
    unsigned toSend;        // devices not skipped by --resume
    bool canariesJudged;
    std::string stopped;    // why no further device starts; empty: none
    const char* stoppedBy;  // how the run line's end says it: RUN_STOPPED_BY_...
};

RolloutGuard startRollout(const FleetOptions& options, const std::vector<bool>& skipped);

// Whether the device at index next may start now, with inFlight devices in
// flight; sets guard->stopped once none ever will.
bool mayStart(RolloutGuard* guard, const FleetOptions& options, std::size_t next,
              const FleetTally& tally, std::size_t inFlight);
