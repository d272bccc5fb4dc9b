// The report file as a ledger: opened for appending, each line written
// whole and flushed at once, synced to the disk at least once a second and
// at the end. A failed write, flush or sync is said once and remembered.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "fleet_report.h"

struct Ledger {
    std::FILE* file;  // nullptr: no report
    std::string path;
    std::uint64_t length;  // bytes of whole lines
    std::uint64_t syncedMs;
    bool unsynced;
    bool failed;
};

constexpr std::uint64_t LEDGER_SYNC_MS = 1000;

// Opens (or creates) path for appending; false after saying why. A last line
// left half-written by a crash is closed with a line end first.
bool openLedger(const std::string& path, Ledger* ledger);
// Appends the device's line; false once the ledger has failed.
bool appendToLedger(Ledger* ledger, const DeviceResult& result);
// Syncs when a second has passed since the last sync and lines wait.
void tickLedger(Ledger* ledger, std::uint64_t nowMs);
// Syncs and closes; false when the ledger failed at any point.
bool closeLedger(Ledger* ledger);
