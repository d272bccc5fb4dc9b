#include "fleet_resume.h"

#include <cstdio>

#include "whole_file.h"
#include "companion_cli.h"

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
            c = line[++at];  // the fields compared here hold no other escape
        *value += c;
    }
    return false;
}

bool boolField(const std::string& line, const std::string& key, bool* value)
{
    std::string prefix = "\"" + key + "\":";
    std::size_t at = line.find(prefix);
    if (at == std::string::npos)
        return false;
    *value = line.compare(at + prefix.size(), 4, "true") == 0;
    return *value || line.compare(at + prefix.size(), 5, "false") == 0;
}

bool parseLine(const std::string& line, std::string* address, LedgerEntry* entry)
{
    std::string result;
    std::string type;
    if (line.empty() || line.front() != '{' || line.back() != '}' ||
        !stringField(line, "address", address) || !stringField(line, "result", &result) ||
        !resultOfName(result.c_str(), &entry->result) ||
        !stringField(line, "reason", &entry->reason))
        return false;
    stringField(line, "file", &entry->file);
    // Lines of older reports name no image: they match none.
    entry->image = ImageIdentity{"", 0, false};
    if (stringField(line, "sha256", &entry->image.sha256) && stringField(line, "type", &type) &&
        type.size() == 1 && boolField(line, "whole", &entry->image.whole))
        entry->image.type = type[0];
    else
        entry->image.sha256.clear();
    return true;
}
}  // namespace

bool readLedger(const std::string& path, std::map<std::string, LedgerEntry>* last,
                const char* what)
{
    std::string text;
    if (!readWholeFile(path, &text)) {
        companionError("VNfleet: cannot read the %s: %s\n", what, path.c_str());
        return false;
    }
    // UTF-8 like every file an operator saves: an editor may add a mark.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    int number = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        bool ended = end != std::string::npos;
        std::string line = text.substr(at, ended ? end - at : std::string::npos);
        at = ended ? end + 1 : text.size();
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::string address;
        LedgerEntry entry{number, {}, FleetResult::FAILED, {}, {}};
        if (parseLine(line, &address, &entry)) {
            (*last)[address] = entry;
            continue;
        }
        // A crash mid-write cuts a line short; a later run's lines follow it.
        if (line.compare(0, 12, "{\"address\":\"") == 0 && line.back() != '}') {
            companionError("VNfleet: %s line %d: half-written, ignored\n", path.c_str(),
                           number);
            continue;
        }
        companionError("VNfleet: %s line %d: not a report line\n", path.c_str(), number);
        return false;
    }
    return true;
}

bool alreadyHolds(const LedgerEntry& entry, const ImageIdentity& image)
{
    return (entry.result == FleetResult::UPDATED || entry.result == FleetResult::SKIPPED) &&
           !entry.image.sha256.empty() && entry.image.sha256 == image.sha256 &&
           entry.image.type == image.type && entry.image.whole == image.whole;
}
