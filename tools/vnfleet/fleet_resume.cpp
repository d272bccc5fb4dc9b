#include "fleet_resume.h"

#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "companion_cli.h"

namespace {
using Json = nlohmann::json;

bool stringOf(const Json& object, const char* key, std::string* value)
{
    auto found = object.find(key);
    if (found == object.end() || !found->is_string())
        return false;
    *value = found->get<std::string>();
    return true;
}

bool boolOf(const Json& object, const char* key, bool* value)
{
    auto found = object.find(key);
    if (found == object.end() || !found->is_boolean())
        return false;
    *value = found->get<bool>();
    return true;
}

// Lines of older reports name no image, or not how it was sent: they match none.
ImageIdentity identityIn(const Json& line)
{
    ImageIdentity image{"", 0, false, false};
    std::string type;
    if (!stringOf(line, "sha256", &image.sha256) || !stringOf(line, "type", &type) ||
        type.size() != 1 || !boolOf(line, "whole", &image.whole) ||
        !boolOf(line, "packaged", &image.packaged))
        return ImageIdentity{"", 0, false, false};
    image.type = type[0];
    return image;
}

bool isRunLine(const Json& line)
{
    std::string kind;
    return line.is_object() && stringOf(line, "line", &kind) && kind == "run";
}

struct Reader {
    LedgerContents* contents;
    std::map<std::string, std::size_t> runOfId;

    bool runLine(const Json& line, int number)
    {
        LedgerRun run{number, {}, {}, {}, false, {}, {}};
        auto planned = line.find("addresses");
        if (!stringOf(line, "run", &run.id) || !stringOf(line, "site", &run.site) ||
            planned == line.end() || !planned->is_array())
            return false;
        for (const Json& address : *planned)
            if (address.is_string())
                run.planned.push_back(address.get<std::string>());
        runOfId[run.id] = contents->runs.size();
        contents->runs.push_back(std::move(run));
        return true;
    }

    bool endLine(const Json& line)
    {
        std::string id;
        if (!stringOf(line, "run", &id))
            return false;
        auto found = runOfId.find(id);
        if (found != runOfId.end()) {
            LedgerRun& run = contents->runs[found->second];
            run.ended = true;
            stringOf(line, "ended", &run.how);
        }
        return true;
    }

    bool deviceLine(const Json& line, int number)
    {
        std::string address;
        std::string result;
        LedgerEntry entry{number, {}, FleetResult::FAILED, {}, {}};
        if (!stringOf(line, "address", &address) || !stringOf(line, "result", &result) ||
            !resultOfName(result.c_str(), &entry.result) ||
            !stringOf(line, "reason", &entry.reason))
            return false;
        stringOf(line, "file", &entry.file);
        entry.image = identityIn(line);
        auto back = line.find("back_ms");
        entry.awaited = back != line.end();
        entry.back = entry.awaited && back->is_number();
        std::string id;
        std::string site;
        auto run = stringOf(line, "run", &id) ? runOfId.find(id) : runOfId.end();
        if (run != runOfId.end()) {
            contents->runs[run->second].devices[address] = entry;
            site = contents->runs[run->second].site;
        }
        auto& last = contents->last[site];
        if (entry.result != FleetResult::NOT_STARTED || last.find(address) == last.end())
            last[address] = entry;
        return true;
    }

    bool take(const Json& line, int number)
    {
        std::string kind;
        if (!stringOf(line, "line", &kind))
            return deviceLine(line, number);
        return kind == "run" ? runLine(line, number) : kind == "end" && endLine(line);
    }
};

bool looksUtf16(const std::string& text)
{
    if (text.size() < 2)
        return false;
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    return (byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF) ||
           (byte(0) == 0 && byte(1) == '{') || (byte(0) == '{' && byte(1) == 0);
}

bool blank(const std::string& line)
{
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

bool readAll(std::FILE* file, std::string* text)
{
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text->append(buffer, got);
    return !std::ferror(file);
}
}  // namespace

bool parseLedger(const std::string& text, const std::string& name, LedgerContents* contents)
{
    if (looksUtf16(text)) {
        companionError("VNfleet: %s is UTF-16: save the report as UTF-8\n", name.c_str());
        return false;
    }
    Reader reader{contents, {}};
    // A file merged or saved on Windows may start with a byte-order mark.
    std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int number = 0;
    int torn = 0;  // a line that is no whole object, judged by the next
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        std::size_t stop = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(at, stop - at);
        at = stop + 1;
        ++number;
        if (blank(line))
            continue;
        Json json = Json::parse(line, nullptr, false);
        bool whole = !json.is_discarded() && json.is_object();
        if (torn != 0) {
            if (!whole || !isRunLine(json)) {
                companionError("VNfleet: %s line %d: not a report line\n", name.c_str(), torn);
                return false;
            }
            companionError("VNfleet: %s line %d: half-written, ignored\n", name.c_str(), torn);
            torn = 0;
        }
        if (!whole) {
            torn = number;
            continue;
        }
        if (!reader.take(json, number)) {
            companionError("VNfleet: %s line %d: not a report line\n", name.c_str(), number);
            return false;
        }
    }
    if (torn != 0)
        companionError("VNfleet: %s line %d: half-written, ignored\n", name.c_str(), torn);
    return true;
}

bool readLedgerFile(std::FILE* file, const std::string& path, LedgerContents* contents)
{
    std::string text;
    if (!readAll(file, &text)) {
        companionError("VNfleet: cannot read the report to resume from: %s\n", path.c_str());
        return false;
    }
    return parseLedger(text, path, contents);
}

bool readLedger(const std::string& path, LedgerContents* contents, const char* what)
{
    std::FILE* file = platformOpenRegularFile(path.c_str());
    std::string text;
    bool read = file && readAll(file, &text);
    if (file)
        std::fclose(file);
    if (!read) {
        companionError("VNfleet: cannot read the %s: %s\n", what, path.c_str());
        return false;
    }
    return parseLedger(text, path, contents);
}

std::map<std::string, LedgerEntry> linesOfSite(const LedgerContents& contents,
                                               const std::string& site, const std::string& path)
{
    for (const auto& [other, lines] : contents.last)
        if (other != site && !other.empty())
            companionError("VNfleet: %zu device%s of site %s in %s ignored\n", lines.size(),
                           lines.size() == 1 ? "" : "s", other.c_str(), path.c_str());
    auto found = contents.last.find(site);
    return found == contents.last.end() ? std::map<std::string, LedgerEntry>{} : found->second;
}

bool alreadyHolds(const LedgerEntry& entry, const ImageIdentity& image)
{
    return (entry.result == FleetResult::UPDATED || entry.result == FleetResult::SKIPPED) &&
           !entry.image.sha256.empty() && sameIdentity(entry.image, image);
}
