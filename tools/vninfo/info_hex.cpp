#include "info_hex.h"

#include <algorithm>
#include <cstdio>

#include "app/settings.h"
#include "image/hex_reader.h"
#include "image/image_buffer.h"
#include "image/image_geometry.h"
#include "info_capture.h"

namespace {
// The reader's view of a line: at most 255 characters up to a line feed,
// the length in positions 1-2, the address in 3-6, the type's second digit
// in 8 and the data from 9.
constexpr std::size_t LINE_CAPACITY = 255;
constexpr std::uint32_t WORD_IMAGE_SHOWN = 16;

bool readLine(std::FILE* file, std::string& line)
{
    line.clear();
    int c;
    while (line.size() < LINE_CAPACITY && (c = std::fgetc(file)) != EOF) {
        line += static_cast<char>(c);
        if (c == '\n')
            break;
    }
    return !line.empty();
}

// As the reader converts a field: white space, then hex digits.
std::uint32_t fieldValue(const std::string& line, std::size_t pos, std::size_t width)
{
    std::size_t end = std::min(pos + width, line.size());
    std::size_t i = pos;
    while (i < end && isHexSpace(line[i]))
        ++i;
    std::uint32_t value = 0;
    for (; i < end && hexDigitValue(line[i]) >= 0; ++i)
        value = (value << 4) | static_cast<std::uint32_t>(hexDigitValue(line[i]));
    return value;
}

bool isBlank(const std::string& line)
{
    return std::all_of(line.begin(), line.end(), isHexSpace);
}

// Walks the records the reader has already taken, for what it does not
// keep: where each data record lies.
void scanRecords(const char* path, HexView& view, std::vector<HexRun>& records)
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return;
    std::uint32_t segmentBase = 0;
    std::string line;
    while (readLine(file, line)) {
        if (isBlank(line))
            continue;
        const std::uint32_t length = fieldValue(line, 1, 2);
        const std::uint32_t address = fieldValue(line, 3, 4) + segmentBase;
        const char type = line.size() > 8 ? line[8] : '\0';
        if (type == '0') {
            ++view.dataRecords;
            const std::uint32_t units = view.wordMode ? length / 2 : length;
            if (units != 0)
                records.push_back(HexRun{address, address + units});
        } else if (type == '2') {
            segmentBase = fieldValue(line, 9, 2 * length) * (view.wordMode ? 32u : 16u);
        } else {
            ++view.otherRecords;
        }
    }
    std::fclose(file);
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
