// VNfleet's command line and its exit statuses.
#pragma once

#include <string>
#include <vector>

constexpr int FLEET_EXIT_UPDATED = 0;
constexpr int FLEET_EXIT_USAGE = 1;
constexpr int FLEET_EXIT_BAD_INPUT = 2;
constexpr int FLEET_EXIT_INTERRUPTED = 3;
constexpr int FLEET_EXIT_SOME_FAILED = 4;
constexpr int FLEET_EXIT_REPORT_FAILED = 5;

constexpr int FLEET_REPLY_WAIT_LIMIT_MS = 10000;

struct FleetOptions {
    std::string listPath;
    // Defaults for the columns a list leaves out, spelled as VNloader has them.
    std::string password;        // -P
    bool passwordGiven = false;  // -P, even an empty one
    std::string passwordFile;    // --password-file
    std::string file;            // -f
    bool plain = false;          // -NE
    char typeLetter = 0;         // -T
    bool wholeEnciphered = false;  // -EA
    int inFlight = 64;           // -j
    int minWaitMs = 200;
    int tries = 8;
    int deadlineS = 0;          // --deadline; 0: none
    int awaitPingS = 0;         // --await-ping: 0, off
    int pingIntervalMs = 1000;  // --ping-interval-ms
    bool pingIntervalGiven = false;
    std::string reportPath;
    std::string resumePath;
    std::string debugLogPath;
    std::string site;  // --site; default: the list's name without folder and extension
    bool dryRun = false;
    bool allowUnfit = false;    // send files VNinfo calls unfit
    int canary = 0;             // --canary: devices updated first, alone
    long maxFailed = -1;        // --max-failed N; -1: no limit
    int maxFailedPercent = -1;  // --max-failed P%
    // --summary: reads these reports instead of sending.
    bool summary = false;
    bool json = false;
    std::vector<std::string> reports;
};

enum FleetArgs { FLEET_ARGS_RUN, FLEET_ARGS_HELP, FLEET_ARGS_VERSION, FLEET_ARGS_BAD };

// Fills options from argv (argument 0 is the program name); FLEET_ARGS_BAD
// after writing why to standard error.
FleetArgs parseFleetOptions(int argc, const char* const* argv, FleetOptions* options);

// The usage text, made from the option and exit-status tables.
std::string fleetUsageText();
