// The run's report: one JSON object per line per device, written as the
// device ends; and the devices an earlier report lists as updated.
#pragma once

#include <cstdio>
#include <set>
#include <string>

// What became of one device.
struct DeviceResult {
    std::string address;
    std::string file;
    const char* result;  // "updated", "failed", "interrupted", "skipped"
    std::string reason;
    unsigned pages;
    unsigned datagrams;
    unsigned resends;
    unsigned long long milliseconds;
};

// The reason a device skipped by --resume is reported with, so a report of
// a resumed run can be resumed from in turn.
extern const char* const SKIPPED_AS_UPDATED;

// text as a JSON string, quotes included.
std::string jsonString(const std::string& text);
std::string resultJson(const DeviceResult& result);
// Appends the line and flushes it at once.
void writeReportLine(std::FILE* report, const DeviceResult& result);

// The addresses a report lists as updated (or skipped as updated before);
// false after reporting a line that is not a report line.
bool readUpdatedAddresses(const std::string& path, std::set<std::string>* updated);
