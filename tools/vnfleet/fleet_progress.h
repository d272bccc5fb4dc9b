// What the operator sees: on a terminal a progress line, refreshed at most
// ten times a second; otherwise one line per device as it ends. A summary
// line at the end either way.
#pragma once

#include <cstdint>
#include <string>

#include "fleet_report.h"

struct FleetTally {
    unsigned devices;
    unsigned updated;
    unsigned failed;
    unsigned interrupted;
    unsigned skipped;
    unsigned notBack;      // --await-ping: no echo reply in time
    unsigned unconfirmed;  // updated, interrupted while waiting for a ping reply
    unsigned inFlight;
    unsigned awaiting;     // waiting for a ping reply, holding no socket
    bool pinging;          // --await-ping
    unsigned long long pagesDone;
    unsigned long long pagesToSend;
    std::uint64_t startedMs;
};

void startProgress(bool terminal);
void showDeviceEnd(const DeviceResult& result);
// Redraws the progress line when a tenth of a second has passed (on a
// terminal only).
void refreshProgress(const FleetTally& tally, std::uint64_t nowMs);
// stopped: why no further device was started (empty: they all were).
void printSummary(const FleetTally& tally, std::uint64_t nowMs, const std::string& stopped);
