// The sending: one thread, one event loop, one socket per device in flight.
#pragma once

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "fleet_images.h"
#include "fleet_list.h"
#include "fleet_options.h"

struct FleetRun {
    const FleetOptions* options;
    const std::vector<DeviceEntry>* devices;
    const std::vector<FleetImage>* images;
    std::set<std::string> updatedBefore;  // from --resume
    std::FILE* report;                    // nullptr: none
    std::FILE* debugLog;                  // nullptr: none
};

// Sends to every device and returns the exit status.
int runFleet(const FleetRun& run);
