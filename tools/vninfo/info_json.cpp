#include "info_json.h"

#include <cstdio>

#include "diag/console.h"
#include "platform/text_names.h"
#include "json_string.h"

namespace {
// The text being built and, per open object or array, whether the next
// member is its first.
struct JsonText {
    std::string out;
    std::vector<bool> first;
};

JsonText json;

void quoted(const std::string& text)
{
    json.out += jsonString(text);  // a file name need not be UTF-8
}

// Starts a member (key may be null inside an array).
void member(const char* key)
{
    if (!json.first.empty()) {
        if (!json.first.back())
            json.out += ',';
        json.first.back() = false;
    }
    if (key) {
        quoted(key);
        json.out += ':';
    }
}

void open(const char* key, char bracket)
{
    member(key);
    json.out += bracket;
    json.first.push_back(true);
}

void close(char bracket)
{
    json.out += bracket;
    json.first.pop_back();
}

void number(const char* key, long long value)
{
    member(key);
    json.out += std::to_string(value);
}

void flag(const char* key, bool value)
{
    member(key);
    json.out += value ? "true" : "false";
}

void text(const char* key, const std::string& value)
{
    member(key);
    quoted(value);
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t count)
{
    std::string out;
    char one[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(one, sizeof one, "%02x", bytes[i]);
        out += one;
    }
    return out;
}

void runs(const char* key, const std::vector<HexRun>& list)
{
    open(key, '[');
    for (const HexRun& run : list) {
        open(nullptr, '{');
        number("start", run.start);
        number("end", run.end);
        close('}');
    }
    close(']');
}

void package(const PackageView& pkg)
{
    open("package", '{');
    number("headerBytes", pkg.headerBytes);
    number("magic", pkg.magic);
    number("fileType", static_cast<std::int8_t>(pkg.fileType));
    text("typeName", typeName(pkg.fileType));
    number("nMinHexAddress", pkg.minBound);
    number("nMaxHexAddress", pkg.maxBound);
    number("storedCrc", pkg.storedCrc);
    number("bodyCrc", pkg.bodyCrc);
    flag("crcOk", pkg.storedCrc == pkg.bodyCrc);
    number("bodyLength", pkg.bodyLength);
    number("fileBodyLength", static_cast<long long>(pkg.fileBodyLength));
    number("bodyPages", pkg.bodyPages);
    flag("wholePages", pkg.wholePages);
    flag("bodyTooLong", pkg.bodyTooLong);
    close('}');
}

void pageHeader(const PageHeaderView& view)
{
    open("pageHeader", '{');
    flag("wholeBody", view.wholeBody);
    number("decipheredLength", view.decipheredLength);
    number("sourceLength", view.sourceLength);
    flag("lengthFits", view.crcOk && view.lengthFits);
    if (view.crcOk && view.lengthFits)
        number("sourceLengthFull", view.sourceLengthFull);
    number("storedCrc", view.storedCrc);
    number("imageCrc", view.imageCrc);
    flag("crcOk", view.crcOk);
    text("bytes4to7", hexBytes(view.copied, 4));
    text("imageBytes4to7", hexBytes(view.imageBytes, 4));
    flag("bytes4to7Ok", view.copiedOk);
    flag("otherEaChecksOut", view.otherModeOk);
    close('}');
}

// A list of objects, each written by writeOne.
template <typename Entry, typename Write>
void objects(const char* key, const std::vector<Entry>& entries, Write writeOne)
{
    open(key, '[');
    for (const Entry& entry : entries) {
        open(nullptr, '{');
        writeOne(entry);
        close('}');
    }
    close(']');
}

// The record report: each named record by its line.
void records(const HexView& view)
{
    open("records", '{');
    objects("badChecksums", view.checksumFaults, [](const HexChecksumFault& fault) {
        number("line", fault.line);
        if (fault.present)
            number("stored", fault.stored);
        number("wanted", fault.wanted);
    });
    objects("overlapping", view.overlapping, [](const HexOverlap& overlap) {
        number("line", overlap.line);
        number("start", overlap.where.start);
        number("end", overlap.where.end);
    });
    number("endOfFileLine", view.endOfFileLine);
    open("dataAfterEndOfFile", '[');
    for (std::uint32_t line : view.dataAfterEnd) {
        member(nullptr);
        json.out += std::to_string(line);
    }
    close(']');
    objects("ignored", view.ignored, [](const HexIgnored& record) {
        number("line", record.line);
        number("type", record.type);
    });
    close('}');
}

// The line the loader refuses and the rule it breaks; null where the
// refusal is of another kind.
void refusal(const HexRefusal& line)
{
    if (line.line == 0) {
        member("refusal");
        json.out += "null";
        return;
    }
    open("refusal", '{');
    number("line", line.line);
    flag("record", !line.notRecord);
    if (line.type >= 0)
        number("type", line.type);
    if (line.length >= 0)
        number("length", line.length);
    text("rule", line.rule);
    text("advice", line.advice);
    close('}');
}

void hex(const HexView& view, bool loaded)
{
    open("hex", '{');
    flag("wordMode", view.wordMode);
    if (!loaded)
        refusal(view.refusal);
    if (loaded) {
        number("minBound", view.minBound);
        number("maxBound", view.maxBound);
        number("dataRecords", view.dataRecords);
        number("otherRecords", view.otherRecords);
        number("overlaps", view.overlaps);
        runs("data", view.runs);
        runs("gaps", view.gaps);
        records(view);
        if (view.wordMode && view.dataRecords != 0) {
            number("wordImageOffset", view.wordImageOffset);
            number("wordImageLength", view.wordImageLength);
            text("wordImageStart", hexBytes(view.wordImageStart.data(), view.wordImageStart.size()));
        }
    }
    close('}');
}

void raw(const RawView& view)
{
    open("raw", '{');
    number("contentLength", view.contentLength);
    number("loadedLength", view.loadedLength);
    close('}');
}

void transfer(const TransferView& plan)
{
    open("transfer", '{');
    flag("refused", plan.refused);
    if (plan.refused) {
        text("refusal", plan.refusal);
        number("exitStatus", plan.loaderExitStatus);
    } else {
        number("firstPage", plan.firstPage);
        number("endPage", plan.endPage);
        number("pages", plan.endPage > plan.firstPage ? plan.endPage - plan.firstPage : 0);
        number("imagePages", plan.imagePages);
        number("packets", plan.packets);
        if (plan.packets != 0) {
            number("firstPacketLength", plan.firstLength);
            number("firstFlags", plan.firstFlags);
        }
        if (plan.haveLater)
            number("laterFlags", plan.laterFlags);
        number("finishType", plan.finishType);
        number("finishFlags", plan.finishFlags);
        number("imageCrc", plan.imageCrc);
    }
    close('}');
}
}  // namespace

void printJson(const InfoReport& report)
{
    json = JsonText{};
    const int status = reportStatus(report);
    open(nullptr, '{');
    text("file", report.path);
    text("input", report.inputKind);
    number("status", status);
    text("verdict", statusMeaning(status));
    open("loader", '{');
    flag("accepted", report.loaderAccepted);
    text("message", report.loaderMessage);
    close('}');
    if (report.package.present)
        package(report.package);
    if (report.pageHeader.checked)
        pageHeader(report.pageHeader);
    if (report.hex.present)
        hex(report.hex, report.loaderAccepted);
    if (report.raw.present && report.loaderAccepted)
        raw(report.raw);
    if (report.transfer.planned || report.transfer.refused)
        transfer(report.transfer);
    objects("problems", report.problems, [](const Finding& problem) {
        number("status", problem.status);
        text("text", problem.text);
    });
    open("notes", '[');
    for (const std::string& note : report.notes) {
        member(nullptr);
        quoted(note);
    }
    close(']');
    close('}');
    json.out += '\n';
    // UTF-8 when redirected, as JSON is; a console shows its characters.
    platformWriteText(stdout, json.out.data(), json.out.size(), true);
    std::fflush(stdout);
}
