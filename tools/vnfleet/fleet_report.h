// The run's report: a ledger of one JSON object per line. A run's first
// line says what it plans, a line per device follows as each ends (every
// planned device gets one), and a last line says how the run ended.
#pragma once

#include <string>
#include <vector>

#include "fleet_result.h"

// The image as a device is sent it.
struct ImageIdentity {
    std::string sha256;  // of the file's bytes as read, lower-case hex
    char type;           // M, D, L, J or H: the kind sent
    bool whole;          // enciphered whole (-EA, the whole column)
    bool packaged;       // sent as an update package, not as plain content
};

bool sameIdentity(const ImageIdentity& a, const ImageIdentity& b);

struct DeviceResult {
    std::string address;
    std::string file;
    FleetResult result;
    std::string reason;
    unsigned pages;
    unsigned datagrams;
    unsigned resends;
    unsigned long long milliseconds;
    unsigned foreign;  // datagrams from another address or port, dropped
    ImageIdentity image;
};

struct RunImage {
    std::string file;
    ImageIdentity image;
};

// What a run plans, written before anything is sent.
struct RunPlan {
    std::string id;  // time, host and process: unique
    std::string site;
    std::string list;
    std::string listSha256;
    std::vector<std::string> addresses;  // every device of the list, in its order
    std::vector<RunImage> images;
    std::string host;
    std::string version;
    std::string start;
};

// How a run ended, with its counts.
struct RunEnd {
    std::string how;  // RUN_COMPLETED, ...
    unsigned updated, failed, interrupted, skipped, notStarted;
};

extern const char* const RUN_COMPLETED;
extern const char* const RUN_INTERRUPTED;
extern const char* const RUN_STOPPED_BY_CANARY;
extern const char* const RUN_STOPPED_BY_MAX_FAILED;
extern const char* const RUN_WRITE_ERROR;
extern const char* const RUN_WAIT_FAILED;

// The reason a device skipped by --resume is reported with.
extern const char* const SKIPPED_AS_UPDATED;

// Report lines, each without its line end, stamped with time (UTC, ISO 8601).
std::string resultJson(const std::string& run, const DeviceResult& result, const std::string& time);
std::string runJson(const RunPlan& plan);
std::string endJson(const std::string& run, const RunEnd& end, const std::string& time);
