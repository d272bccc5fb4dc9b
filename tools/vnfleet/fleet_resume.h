// Reading a ledger back: the last line of each address counts.
#pragma once

#include <map>
#include <string>

#include "fleet_report.h"

struct LedgerEntry {
    int line;
    std::string file;
    FleetResult result;
    std::string reason;
    ImageIdentity image;  // sha256 empty: a line that names no image
};

// The last line for each address of the ledger at path. A last line that a
// crash left half-written is ignored with a note; false after saying why
// the ledger cannot be read (a directory, an unreadable file, a line that
// is not a report line), naming the file as `what`.
bool readLedger(const std::string& path, std::map<std::string, LedgerEntry>* last,
                const char* what = "report to resume from");

// Whether a device whose last line is entry already holds image.
bool alreadyHolds(const LedgerEntry& entry, const ImageIdentity& image);
