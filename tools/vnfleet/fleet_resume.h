// Reading a ledger back: its runs (what each planned, its lines, whether it
// ended) and, per site, the last line of each address.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fleet_report.h"

struct LedgerEntry {
    int line;
    std::string file;
    FleetResult result;
    std::string reason;
    ImageIdentity image;  // sha256 empty: a line that names no image fully
    bool awaited = false;  // pinged after its update (--await-ping)
    bool back = false;     // and an echo reply came
};

struct LedgerRun {
    int line;
    std::string id;
    std::string site;
    std::vector<std::string> planned;  // addresses
    bool ended;
    std::string how;                   // from the end line
    std::map<std::string, LedgerEntry> devices;  // its last line per address
};

struct LedgerContents {
    std::vector<LedgerRun> runs;  // in the ledger's order
    // Site ("" for lines of no known run) -> address -> the last line that
    // tells what the device holds ("not started" tells nothing new).
    std::map<std::string, std::map<std::string, LedgerEntry>> last;
};

// Parses a ledger's text; false after saying, naming it as name, why it is
// not a ledger (UTF-16, a line that is not a report line). A line that is
// not one whole JSON object is the torn tail of a crashed run when it is the
// last line or a run line follows it: ignored with a note.
bool parseLedger(const std::string& text, const std::string& name, LedgerContents* contents);

// Reads the ledger at path (no lock: another run may be writing it); false
// after saying why, naming the file as `what`.
bool readLedger(const std::string& path, LedgerContents* contents, const char* what = "report");
// The same from a file already open (the locked resume file).
bool readLedgerFile(std::FILE* file, const std::string& path, LedgerContents* contents);

// The last lines of one site, with a note per other site whose devices are
// left out.
std::map<std::string, LedgerEntry> linesOfSite(const LedgerContents& contents,
                                               const std::string& site, const std::string& path);

// Whether a device whose last line is entry already holds image.
bool alreadyHolds(const LedgerEntry& entry, const ImageIdentity& image);
