#include "info_hex.h"

#include <algorithm>
#include <cstdio>

#include "app/settings.h"
#include "image/hex_reader.h"
#include "image/hex_records.h"
#include "image/image_buffer.h"
#include "info_capture.h"

namespace {
constexpr std::uint32_t WORD_IMAGE_HEADER_SIZE = 4;
constexpr std::uint32_t WORD_IMAGE_SHOWN = 16;

// Walks the records the reader has already taken, for what it does not
// keep: where each data record lies.
void scanRecords(const char* path, HexView& view, std::vector<HexRun>& records)
{
    std::uint32_t addressBase = 0;
    auto take = [&](const HexRecord& record) {
        const std::uint32_t address = record.address + addressBase;
        if (record.typeDigit == '0') {
            ++view.dataRecords;
            const std::uint32_t units = view.wordMode ? record.length / 2 : record.length;
            if (units != 0)
                records.push_back(HexRun{address, address + units});
        } else if (record.typeDigit == '2' || record.typeDigit == '4') {
            hexAddressBase(record, view.wordMode, addressBase);
        } else {
            ++view.otherRecords;
        }
        return true;
    };
    scanHexFile(path, take);
}

// Joins touching records into runs; the holes between the bounds are gaps.
void findRunsAndGaps(std::vector<HexRun> records, HexView& view)
{
    std::stable_sort(records.begin(), records.end(),
                     [](const HexRun& a, const HexRun& b) { return a.start < b.start; });
    for (const HexRun& record : records) {
        if (!view.runs.empty() && record.start <= view.runs.back().end) {
            if (record.start < view.runs.back().end)
                ++view.overlaps;
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
    view.wordImageLength = 2 * (view.maxBound - view.minBound) + WORD_IMAGE_HEADER_SIZE;
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
    settings.packagedInput = 0;
    settings.fileType = fileType;

    startCapture();
    const int loaded = readHexFile(report.path.c_str(), fileType);
    report.loaderMessage = stopCapture();
    report.loaderAccepted = loaded != 0;
    view.minBound = nMinHexAddress;
    view.maxBound = nMaxHexAddress;
    if (!loaded) {
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
    if (view.dataRecords == 0)
        return;  // the transfer says what follows
    if (view.overlaps != 0)
        addNote(report, "%u data records write over earlier ones; the later bytes count",
                static_cast<unsigned>(view.overlaps));
    if (view.wordMode) {
        describeWordImage(view);
        if (view.maxBound > 0xFFFFu)
            addProblem(report, INFO_MISMATCH,
                       "the upper word bound 0x%x does not fit the word image's 16-bit header",
                       static_cast<unsigned>(view.maxBound));
    } else if (view.minBound != 0) {
        addNote(report, "the image starts at address 0x%x; the device gets that byte as the "
                        "first byte of its first page",
                static_cast<unsigned>(view.minBound));
    }
}
