// VNfleet against a fleet of emulated devices (VNsim --devices), and its
// report read back.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "programs.h"

// A new folder with app.jar and its package java.enc (key "fleet-key").
std::string fleetFolder();

// options followed by "-f java.enc list.csv".
std::vector<std::string> sendingJava(std::vector<std::string> options);

// Writes dir/list.csv ("address" over the given lines) and starts VNfleet
// there with sendingJava(options).
RunningProgram startFleet(const std::string& dir, const std::string& addresses,
                          const std::vector<std::string>& options);

// VNsim as the devices, always the native one: under Wine a socket bound to
// one loopback address sends from 127.0.0.1, which VNfleet rightly takes for
// another host.
RunningProgram startDevices(const std::vector<std::string>& args, const std::string& dir);

struct FleetAgainstSim {
    ProgramResult fleet;
    ProgramResult sim;
};

// Starts VNsim on the addresses first-last (password pw, key fleet-key,
// images into dir, and simOptions), runs VNfleet with args in dir, ends both.
FleetAgainstSim runFleetAgainstSim(const std::string& dir, const std::string& range,
                                   const std::vector<std::string>& args,
                                   const std::vector<std::string>& simOptions = {});

// A device at address:69 that acknowledges every packet (the finish packet
// only when answerFinish), from its own address or, given, from another
// (the same address: from another port),
// until no packet came for quietMs after the first; the finish packets got.
int actAsDevice(const char* address, const char* answerFrom, bool answerFinish, int quietMs);

// A list of count devices from 127.0.B.1 on (250 to a B), each line ending
// with cells(i) when given.
std::string deviceList(const std::string& header, int count, int firstB,
                       const std::function<std::string(int)>& cells = nullptr);

// A report line of run r0: java.enc updated at address with this digest.
std::string ledgerLine(const std::string& address, const std::string& sha256);
// The line that starts run r0 of site, planning addresses (JSON strings).
std::string ledgerRunLine(const std::string& site, const std::string& addresses = "");

std::string readText(const std::string& path);
bool holds(const std::string& text, const std::string& part);
// The lines of text that contain every one of the parts.
std::vector<std::string> linesWith(const std::string& text, const std::vector<std::string>& parts);
// sha256sum's digest of a file.
std::string sha256sumOf(const std::string& path);
