#include "fleet_report.h"

#include <fstream>

const char* const SKIPPED_AS_UPDATED = "updated in an earlier run";

namespace {
// The string value of "key" in one of our own report lines.
bool stringField(const std::string& line, const std::string& key, std::string* value)
{
    std::size_t at = line.find("\"" + key + "\":\"");
    if (at == std::string::npos)
        return false;
    value->clear();
    for (at += key.size() + 4; at < line.size(); ++at) {
        char c = line[at];
        if (c == '"')
            return true;
        if (c == '\\' && at + 1 < line.size())
            c = line[++at];  // our writer escapes only quotes and backslashes here
        *value += c;
    }
    return false;
}
}  // namespace

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    char escape[8];
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string resultJson(const DeviceResult& r)
{
    return "{\"address\":" + jsonString(r.address) + ",\"file\":" + jsonString(r.file) +
           ",\"result\":" + jsonString(r.result) + ",\"reason\":" + jsonString(r.reason) +
           ",\"pages\":" + std::to_string(r.pages) + ",\"datagrams\":" +
           std::to_string(r.datagrams) + ",\"resends\":" + std::to_string(r.resends) +
           ",\"milliseconds\":" + std::to_string(r.milliseconds) + "}";
}

void writeReportLine(std::FILE* report, const DeviceResult& result)
{
    std::string line = resultJson(result) + "\n";
    std::fwrite(line.data(), 1, line.size(), report);
    std::fflush(report);
}

bool readUpdatedAddresses(const std::string& path, std::set<std::string>* updated)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "VNfleet: cannot read the report to resume from: %s\n", path.c_str());
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line == "\r")
            continue;
        std::string address;
        std::string result;
        std::string reason;
        if (!stringField(line, "address", &address) || !stringField(line, "result", &result) ||
            !stringField(line, "reason", &reason)) {
            std::fprintf(stderr, "VNfleet: %s line %d: not a report line\n", path.c_str(), number);
            return false;
        }
        if (result == "updated" || (result == "skipped" && reason == SKIPPED_AS_UPDATED))
            updated->insert(address);
    }
    return true;
}
