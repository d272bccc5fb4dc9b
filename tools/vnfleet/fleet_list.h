// The device list: one row per device, the columns a list leaves out taken
// from the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fleet_options.h"

struct DeviceEntry {
    int line;
    std::string address;
    std::uint32_t ip;  // network byte order
    std::string password;
    std::string file;
    char typeLetter;  // 0: an update package
    bool wholeEnciphered;
    int image;  // index into the loaded images
};

// Writes "VNfleet: LIST line N: what" to standard error.
void reportListProblem(const std::string& listPath, int line, const std::string& what);

// Reads and checks the whole list; false after reporting the first problem.
bool readDeviceList(const FleetOptions& options, std::vector<DeviceEntry>* devices);

