#include "info_hex.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>

#include "app/settings.h"
#include "image/hex_reader.h"
#include "image/hex_records.h"
#include "image/image_buffer.h"
#include "image/image_geometry.h"
#include "companion_cli.h"
#include "info_findings.h"
#include "info_load.h"

namespace {
constexpr std::uint32_t WORD_IMAGE_SHOWN = 16;
constexpr const char* HEX_FORMAT_REFUSAL = "Input file not Intel Hex format:";

constexpr int END_OF_FILE_TYPE = 1;
constexpr int START_SEGMENT_TYPE = 3;
constexpr int START_LINEAR_TYPE = 5;

// Buffer bytes that earlier data records stored, as [start, end) ranges
// keyed by start, touching ranges joined.
using StoredBytes = std::map<std::uint32_t, std::uint32_t>;

// Adds [start, end); true when part of it was stored before.
bool storeOver(StoredBytes& stored, std::uint32_t start, std::uint32_t end)
{
    bool over = false;
    auto at = stored.upper_bound(start);
    if (at != stored.begin() && std::prev(at)->second >= start)
        --at;
    while (at != stored.end() && at->first <= end) {
        over = over || (at->first < end && at->second > start);
        start = std::min(start, at->first);
        end = std::max(end, at->second);
        at = stored.erase(at);
    }
    stored.emplace(start, end);
    return over;
}

// Walks the records the reader has already taken, for what it does not
// keep: where each data record lies, and the faults it does not look for.
void scanRecords(const char* path, HexView& view, std::vector<HexRun>& records)
{
    std::uint32_t addressBase = 0;
    StoredBytes stored;
    auto take = [&](const HexRecord& record) {
        if (!record.checksumRight)
            view.checksumFaults.push_back(HexChecksumFault{record.lineNumber, record.checksumPresent,
                                                           record.checksum, record.checksumWanted});
        const std::uint32_t address = record.address + addressBase;
        if (record.typeDigit == '0') {
            ++view.dataRecords;
            // As the reader stores them: length bytes from the record's offset.
            const std::uint32_t offset = view.wordMode ? 2 * address : address;
            const std::uint32_t units = view.wordMode ? record.length / 2 : record.length;
            const HexRun where{address, address + (view.wordMode ? (record.length + 1) / 2 : record.length)};
            if (units != 0)
                records.push_back(HexRun{address, address + units});
            if (record.length != 0 && storeOver(stored, offset, offset + record.length))
                view.overlapping.push_back(HexOverlap{record.lineNumber, where});
            if (view.endOfFileLine != 0)
                view.dataAfterEnd.push_back(record.lineNumber);
        } else if (record.typeDigit == '2' || record.typeDigit == '4') {
            hexAddressBase(record, view.wordMode, addressBase);
        } else {
            ++view.otherRecords;
            if (record.type == END_OF_FILE_TYPE && view.endOfFileLine == 0)
                view.endOfFileLine = record.lineNumber;
            if (record.type == START_SEGMENT_TYPE || record.type == START_LINEAR_TYPE)
                view.ignored.push_back(HexIgnored{record.lineNumber, record.type});
        }
        return true;
    };
    scanHexFile(path, take);
    view.overlaps = static_cast<std::uint32_t>(view.overlapping.size());
}

struct FaultText {
    HexLineFault fault;
    const char* rule;
    const char* advice;
};

// What each refusal of the record scanner means, and what to do about it.
constexpr FaultText faultTexts[] = {
    {HEX_LINE_CR_ONLY, "CR-only line ends",
     "VNloader ends a line only at a line feed, so the records run together: convert the line "
     "ends to CR LF or LF"},
    {HEX_LINE_NOT_RECORD, "not a record",
     "remove comment lines and other text: VNloader reads every line as a record"},
    {HEX_LINE_TOO_LONG, "VNloader takes at most 32 data bytes a record",
     "re-block it, e.g. `srec_cat in.hex -intel -o out.hex -intel -obs 32`"},
    {HEX_LINE_JOINED, "another record follows on the same line",
     "two files joined without a line end? put a line end between the records"},
    {HEX_LINE_CUT, "the line ends before its record does",
     "the file is cut or damaged: make it again from the firmware"},
    {HEX_LINE_NOT_HEX, "a character of the record is not a hexadecimal digit",
     "the file is damaged or not Intel HEX: make it again from the firmware"},
    {HEX_LINE_TRAILING, "more characters follow than the record's length gives",
     "only white space may follow the checksum; a DSP file must give its length in bytes, two "
     "digits each"},
    {HEX_LINE_BASE_LENGTH, "an extended address record (02 or 04) must have a length of 2",
     "the file is damaged: make it again from the firmware"},
};

// The first line the loader refuses, as the loader's own scan meets it.
HexRefusal findRefusal(const char* path)
{
    HexRefusal refusal{};
    auto take = [&](const HexRecord& record) {
        const HexLineFault fault = hexLineFault(record);
        if (fault == HEX_LINE_TAKEN)
            return true;
        refusal.line = record.lineNumber;
        refusal.type = record.type;
        refusal.length = record.lengthKnown ? static_cast<int>(record.length) : -1;
        refusal.notRecord = fault == HEX_LINE_NOT_RECORD;
        for (const FaultText& text : faultTexts)
            if (text.fault == fault) {
                refusal.rule = text.rule;
                refusal.advice = text.advice;
            }
        return false;
    };
    scanHexFile(path, take);
    return refusal;
}

// "line 3 (type 00, length 64): RULE: ADVICE", or "line 1 is not a record: ADVICE".
std::string refusalText(const HexRefusal& refusal)
{
    char head[64];
    if (refusal.notRecord)
        std::snprintf(head, sizeof head, "line %u is not a record", static_cast<unsigned>(refusal.line));
    else if (refusal.type >= 0 && refusal.length >= 0)
        std::snprintf(head, sizeof head, "line %u (type %02X, length %d)",
                      static_cast<unsigned>(refusal.line), static_cast<unsigned>(refusal.type),
                      refusal.length);
    else
        std::snprintf(head, sizeof head, "line %u", static_cast<unsigned>(refusal.line));
    std::string text = head;
    if (!refusal.notRecord)
        text = text + ": " + refusal.rule;
    return text + ": " + refusal.advice;
}

// What the record walk found: damage and overlaps make the file unfit; the
// rest VNloader takes in its stride.
void reportRecords(InfoReport& report)
{
    const HexView& view = report.hex;
    if (!view.checksumFaults.empty())
        addProblem(report, INFO_HEX_CHECKSUM,
                   "%s with a wrong or missing checksum, the first on line %u: the file is damaged "
                   "(VNloader does not check checksums and would send what it read)",
                   countedNoun(view.checksumFaults.size(), "record").c_str(),
                   static_cast<unsigned>(view.checksumFaults[0].line));
    if (!view.overlapping.empty())
        addProblem(report, INFO_HEX_OVERLAP,
                   "%s write%s over earlier ones, the first on line %u; the later bytes count",
                   countedNoun(view.overlapping.size(), "data record").c_str(),
                   view.overlapping.size() == 1 ? "s" : "",
                   static_cast<unsigned>(view.overlapping[0].line));
    if (!view.dataAfterEnd.empty())
        addProblem(report, INFO_HEX_AFTER_END,
                   "%s after the end-of-file record on line %u, the first on line %u: other tools "
                   "stop there, VNloader sends them",
                   countedNoun(view.dataAfterEnd.size(), "data record").c_str(),
                   static_cast<unsigned>(view.endOfFileLine),
                   static_cast<unsigned>(view.dataAfterEnd[0]));
    if (!view.ignored.empty())
        addNote(report, "%s (type 03 or 05), the first on line %u; VNloader ignores them",
                countedNoun(view.ignored.size(), "start address record").c_str(),
                static_cast<unsigned>(view.ignored[0].line));
    if (auto finding = endOfFileFinding(view))
        report.problems.push_back(*finding);
}

// Joins touching records into runs; the holes between the bounds are gaps.
void findRunsAndGaps(std::vector<HexRun> records, HexView& view)
{
    std::stable_sort(records.begin(), records.end(),
                     [](const HexRun& a, const HexRun& b) { return a.start < b.start; });
    for (const HexRun& record : records) {
        if (!view.runs.empty() && record.start <= view.runs.back().end) {
            view.runs.back().end = std::max(view.runs.back().end, record.end);
        } else {
            view.runs.push_back(record);
        }
    }
    if (view.minBound > view.maxBound)
        return;
    std::uint32_t at = view.minBound;
    for (const HexRun& run : view.runs) {
        if (run.start > at)
            view.gaps.push_back(HexRun{at, run.start});
        at = std::max(at, run.end);
    }
    if (at < view.maxBound)
        view.gaps.push_back(HexRun{at, view.maxBound});
}

void describeWordImage(HexView& view)
{
    view.wordImageOffset = 2 * view.minBound;
    view.wordImageLength =
        static_cast<std::uint32_t>(wordImageLength(view.minBound, view.maxBound));
    const std::uint32_t shown = std::min(view.wordImageLength, WORD_IMAGE_SHOWN);
    view.wordImageStart.assign(imageBuffer + view.wordImageOffset,
                               imageBuffer + view.wordImageOffset + shown);
}
}  // namespace

void inspectHex(InfoReport& report, std::uint8_t fileType)
{
    HexView& view = report.hex;
    view.present = true;
    view.wordMode = fileType == TYPE_DSP_HEX;

    const std::uint32_t loaded = loadLikeVNloader(report, false, fileType);
    view.minBound = nMinHexAddress;
    view.maxBound = nMaxHexAddress;
    if (!loaded) {
        if (report.loaderMessage.rfind(HEX_FORMAT_REFUSAL, 0) == 0)
            view.refusal = findRefusal(report.path.c_str());
        if (view.refusal.line != 0)
            addProblem(report, INFO_UNREADABLE, "VNloader would stop: \"%s\"; %s",
                       report.loaderMessage.c_str(), refusalText(view.refusal).c_str());
        else
            addProblem(report, INFO_UNREADABLE, "VNloader would stop: \"%s\"",
                       report.loaderMessage.c_str());
        return;
    }
    // The reader goes on past bytes beyond the image buffer, saying so.
    if (!report.loaderMessage.empty())
        addProblem(report, INFO_OUT_OF_RANGE, "some data lies beyond the image buffer: \"%s\"",
                   report.loaderMessage.c_str());

    std::vector<HexRun> records;
    scanRecords(report.path.c_str(), view, records);
    findRunsAndGaps(records, view);
    reportRecords(report);
    if (view.dataRecords == 0)
        return;  // the transfer says what follows
    if (view.wordMode) {
        describeWordImage(view);  // the reader refuses word bounds over 16 bits
    } else if (view.minBound != 0) {
        addNote(report, "the image starts at address 0x%x; the device gets that byte as the "
                        "first byte of its first page",
                static_cast<unsigned>(view.minBound));
    }
}
