// The report file as a ledger, opened for appending by the system and locked
// by the run: each line written whole and flushed at once, synced to the disk
// at least once a second and at the end. A failed write, flush or sync is
// said once and remembered; the lines that come after it are tried once
// more, with the run's last line, at the close.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct Ledger {
    std::FILE* file;  // nullptr: no report
    std::string path;
    std::uint64_t length;  // bytes of whole lines
    std::uint64_t syncedMs;
    bool unsynced;
    bool failed;
    bool said;          // the failure was told
    bool tornTail;      // the file ends inside a line a crash cut short
    std::string held;   // lines that came after a failure
};

constexpr std::uint64_t LEDGER_SYNC_MS = 1000;

// Takes the open, locked report (nullptr: none) and looks at its end.
void startLedger(std::FILE* file, const std::string& path, Ledger* ledger);
// Appends one line (without its line end); a torn tail gets its line end
// first, in the same write. False once the ledger has failed.
bool appendToLedger(Ledger* ledger, const std::string& line);
// Syncs when a second has passed since the last sync and lines wait.
void tickLedger(Ledger* ledger, std::uint64_t nowMs);
// Writes the last line (with what was held after a failure), syncs and
// closes; false when the ledger failed at any point.
bool closeLedger(Ledger* ledger, const std::string& lastLine);
