// --summary: one or more ledgers read as one. Per report and in total, what
// each device's last line says it holds; per site, whether its latest run
// ended with every device it planned updated or skipped.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fleet_resume.h"

// Devices counted by result: updated, failed, interrupted, skipped, not started.
struct ResultCounts {
    unsigned devices = 0;
    std::vector<std::pair<std::string, unsigned>> byResult;
};

struct ImageCounts {
    std::string sha256;  // empty in a ledger that does not name it
    std::string file;
    ResultCounts counts;
};

struct LedgerTally {
    std::string report;  // the path, or "total"
    ResultCounts counts;
    std::vector<ImageCounts> images;
};

// A site's latest run in a report.
struct RunVerdict {
    std::string report;
    std::string site;
    std::string run;
    bool ended;
    std::string how;
    std::size_t planned;
    // --await-ping: its devices seen back, and those not (or not confirmed).
    bool pinged = false;
    unsigned back = 0;
    unsigned notBack = 0;
};

// A device of a latest run neither updated nor skipped, or with no line.
struct NotUpdated {
    std::string report;
    std::string site;
    std::string address;
    std::string file;
    std::string sha256;
    std::string result;  // a result's name, or NO_RECORD
    std::string reason;
};

extern const char* const NO_RECORD;

struct FleetSummary {
    std::vector<LedgerTally> reports;
    LedgerTally total;
    std::vector<RunVerdict> runs;
    std::vector<std::string> noRun;  // reports that hold no run
    std::vector<NotUpdated> notUpdated;
    std::vector<NotUpdated> notBack;  // not back, or not confirmed back
};

void addToSummary(const std::string& report, const LedgerContents& contents,
                  FleetSummary* summary);
// Whether every site's latest run ended with every planned device updated
// or skipped, and every report holds a run.
bool allUpdated(const FleetSummary& summary);

std::string summaryText(const FleetSummary& summary);
std::string summaryJson(const FleetSummary& summary);

// Reads every report and prints the summary; the exit status: 0 when
// allUpdated, 4 when not, 2 for a report it cannot read.
int runSummary(const std::vector<std::string>& reports, bool json);
