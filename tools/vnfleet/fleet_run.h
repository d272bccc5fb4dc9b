// The sending: one thread, one event loop, one socket per device in flight.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fleet_images.h"
#include "fleet_ledger.h"
#include "fleet_list.h"
#include "fleet_options.h"
#include "fleet_resume.h"

struct PlatformPinger;

struct FleetRun {
    const FleetOptions* options;
    const std::vector<DeviceEntry>* devices;
    std::vector<FleetImage>* images;  // loaded and let go as devices need them
    std::map<std::string, LedgerEntry> earlier;  // from --resume
    Ledger* report;
    RunPlan plan;          // its run line
    std::FILE* debugLog;   // nullptr: none
    PlatformPinger* pinger = nullptr;  // --await-ping: the fleet's ICMP channel
};

// Whether --resume skips the device: its last line says it holds this image.
bool skippedByResume(const FleetRun& run, const DeviceEntry& device);

// Sends to every device, closes the report with the run's end line and
// returns the exit status.
int runFleet(const FleetRun& run);
