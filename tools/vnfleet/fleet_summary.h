// --summary: one or more ledgers read as one, per report and in total.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fleet_resume.h"

// Devices counted by result: updated, failed, interrupted, skipped.
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

// A device neither updated nor skipped.
struct NotUpdated {
    std::string report;
    std::string address;
    LedgerEntry entry;
};

struct FleetSummary {
    std::vector<LedgerTally> reports;
    LedgerTally total;
    std::vector<NotUpdated> notUpdated;
};

// Adds one ledger's last line per address to the summary.
void addToSummary(const std::string& report, const std::map<std::string, LedgerEntry>& last,
                  FleetSummary* summary);

std::string summaryText(const FleetSummary& summary);
std::string summaryJson(const FleetSummary& summary);

// Reads every report and prints the summary; the exit status: 0 when every
// device is updated or skipped, 4 when not, 2 for a report it cannot read.
int runSummary(const std::vector<std::string>& reports, bool json);
