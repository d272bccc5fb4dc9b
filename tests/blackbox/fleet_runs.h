// VNfleet against a fleet of emulated devices (VNsim --devices), and its
// report read back.
#pragma once

#include <string>
#include <vector>

#include "programs.h"

int fleetStartupMs();

// A new folder with app.jar and its package java.enc (key "fleet-key").
std::string fleetFolder();

struct FleetAgainstSim {
    ProgramResult fleet;
    ProgramResult sim;
};

// Starts VNsim on the addresses first-last (password pw, key fleet-key,
// images into dir), runs VNfleet with args in dir, ends both.
FleetAgainstSim runFleetAgainstSim(const std::string& dir, const std::string& range,
                                   const std::vector<std::string>& args);

std::string readText(const std::string& path);
// The lines of text that contain every one of the parts.
std::vector<std::string> linesWith(const std::string& text, const std::vector<std::string>& parts);
// sha256sum's digest of a file.
std::string sha256sumOf(const std::string& path);
