// The run's report: a ledger of one JSON object per line, a line per device
// as it ends, naming the image the device was sent.
#pragma once

#include <string>

#include "fleet_result.h"

// The image as a device is sent it.
struct ImageIdentity {
    std::string sha256;  // of the file's bytes as read, lower-case hex
    char type;           // M, D, L, J or H: the kind sent
    bool whole;          // enciphered whole (-EA, the whole column)
};

struct DeviceResult {
    std::string address;
    std::string file;
    FleetResult result;
    std::string reason;
    unsigned pages;
    unsigned datagrams;
    unsigned resends;
    unsigned long long milliseconds;
    unsigned foreign;  // datagrams from another address, dropped
    ImageIdentity image;
    // --await-ping: the device was pinged after its finish packet was
    // accepted; back: its echo reply came, backMs after that.
    bool awaited = false;
    bool back = false;
    unsigned long long backMs = 0;
};

// The reasons of a device pinged after its update but not seen back.
std::string notBackReason(int awaitSeconds);
extern const char* const INTERRUPTED_WAITING_FOR_PING;

// The reason a device skipped by --resume is reported with.
extern const char* const SKIPPED_AS_UPDATED;

// One report line, without its line end, stamped with time (UTC, ISO 8601).
std::string resultJson(const DeviceResult& result, const std::string& time);
