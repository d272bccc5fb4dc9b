#include "image/hex_records.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "image/input_file.h"

bool isHexSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

namespace {
// Every character of a HEX file passes through here: a table, not branches.
struct HexDigits {
    signed char value[256];
    constexpr HexDigits() : value{}
    {
        for (int c = 0; c < 256; ++c)
            value[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
                       : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
                       : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
                                              : -1;
    }
};
constexpr HexDigits hexDigits;
}  // namespace

int hexDigitValue(char c)
{
    return hexDigits.value[static_cast<unsigned char>(c)];
}

namespace {
constexpr std::size_t TYPE_POS = 7;
constexpr std::uint32_t RECORD_FIXED_PAIRS = 5;  // length, address (2), type, checksum
constexpr char DOS_END_OF_FILE = 0x1A;
constexpr std::uint32_t LINEAR_BASE_UNIT = 0x10000;

enum LineRead { LINE_READ, LINE_END_OF_FILE, LINE_READ_ERROR };

struct Line {
    char text[HEX_LINE_CAPACITY + 2];  // the NUL, and a byte a pair may read past it
    std::size_t length;  // characters kept
    bool restBlank;      // the characters past the kept ones are trailing blanks
};

// What may follow a record on its line: white space, and the end-of-file
// marks that old DOS tools write.
bool isTrailingBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == DOS_END_OF_FILE;
}

// The file is read in large chunks and cut into lines here: a read call per
// character costs more than the rest of the scan.
constexpr std::size_t CHUNK_SIZE = 64 * 1024;

struct LineSource {
    std::FILE* file;
    std::unique_ptr<char[]> chunk{new char[CHUNK_SIZE]};
    std::size_t at = 0;
    std::size_t end = 0;
    bool failed = false;
};

// Refills an empty chunk; false at the end of the file or on an error.
bool refill(LineSource& source)
{
    if (source.at < source.end)
        return true;
    if (source.failed)
        return false;
    source.at = 0;
    source.end = std::fread(source.chunk.get(), 1, CHUNK_SIZE, source.file);
    if (source.end == 0)
        source.failed = std::ferror(source.file) != 0;
    return source.end != 0;
}

// Reads one whole line, so that what a long line holds past the kept
// characters is never taken for a line of its own.
LineRead readLine(LineSource& source, Line& line)
{
    line.length = 0;
    line.restBlank = true;
    bool read = false;
    while (refill(source)) {
        read = true;
        const char* start = source.chunk.get() + source.at;
        const std::size_t left = source.end - source.at;
        const char* lineFeed = static_cast<const char*>(std::memchr(start, '\n', left));
        const std::size_t take = lineFeed ? static_cast<std::size_t>(lineFeed - start) + 1 : left;
        const std::size_t keep = std::min(take, HEX_LINE_CAPACITY - line.length);
        std::memcpy(line.text + line.length, start, keep);
        line.length += keep;
        for (std::size_t i = keep; i < take; ++i)
            if (!isTrailingBlank(start[i]))
                line.restBlank = false;
        source.at += take;
        if (lineFeed)
            break;
    }
    line.text[line.length] = '\0';
    if (source.failed || std::ferror(source.file))
        return LINE_READ_ERROR;
    return read ? LINE_READ : LINE_END_OF_FILE;
}

bool isBlank(const Line& line)
{
    for (std::size_t i = 0; i < line.length; ++i)
        if (!isHexSpace(line.text[i]) && line.text[i] != DOS_END_OF_FILE)
            return false;
    return line.restBlank;
}

// Converts the pairs of hex digits from position 1 on, up to the first
// character that is not one; returns how many there are. The NUL after the
// kept characters ends the run, so nothing past it is taken.
std::uint32_t convertPairs(const Line& line, std::uint8_t* pairs, std::uint32_t most)
{
    const auto* text = reinterpret_cast<const unsigned char*>(line.text) + 1;
    std::uint32_t count = 0;
    for (; count < most; ++count, text += 2) {
        const int high = hexDigits.value[text[0]];
        const int low = hexDigits.value[text[1]];
        if ((high | low) < 0)
            break;
        pairs[count] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return count;
}

// Positions past the line's end hold nothing, never leftovers of other lines.
char charAt(const HexRecord& record, std::size_t pos)
{
    return pos < record.textLength ? record.text[pos] : '\0';
}

// A pair of hex digits at pos; -1 when either is not one.
int pairAt(const HexRecord& record, std::size_t pos)
{
    const int high = hexDigitValue(charAt(record, pos));
    const int low = hexDigitValue(charAt(record, pos + 1));
    return high < 0 || low < 0 ? -1 : (high << 4) | low;
}

// Only trailing blanks from pos to the line's end, and past it.
bool blankFrom(const HexRecord& record, std::size_t pos)
{
    for (std::size_t i = pos; i < record.textLength; ++i)
        if (!isTrailingBlank(record.text[i]))
            return false;
    return !record.overLong;
}

// One pass over the pairs: length, address, type, data, checksum.
void decode(const Line& line, unsigned lineNumber, HexRecord& record)
{
    std::uint8_t pairs[RECORD_FIXED_PAIRS + HEX_RECORD_LIMIT];
    const std::uint32_t count = convertPairs(line, pairs, sizeof pairs);
    record.lineNumber = lineNumber;
    record.text = line.text;
    record.textLength = line.length;
    record.mark = line.text[0];
    record.overLong = !line.restBlank;
    record.lengthKnown = count >= 1;
    record.length = record.lengthKnown ? pairs[0] : 0;
    const std::uint32_t recordPairs = RECORD_FIXED_PAIRS + record.length;
    record.wellFormed = record.lengthKnown && count >= recordPairs &&
                        blankFrom(record, 1 + 2 * recordPairs);
    record.address = record.wellFormed ? std::uint32_t{pairs[1]} << 8 | pairs[2] : 0;
    record.typeDigit = charAt(record, TYPE_POS + 1);
    record.type = count >= 4 ? pairs[3] : pairAt(record, TYPE_POS);

    record.dataBytes = count > 4 ? std::min(count - 4, record.length) : 0;
    std::memcpy(record.data, pairs + 4, record.dataBytes);
    record.checksumPresent = record.dataBytes == record.length && count > 4 + record.length;
    record.checksum = record.checksumPresent ? pairs[4 + record.length] : 0;
    unsigned sum = record.length + (record.address >> 8) + record.address +
                   static_cast<unsigned>(record.type);
    for (std::uint32_t i = 0; i < record.dataBytes; ++i)
        sum += record.data[i];
    record.checksumWanted = static_cast<std::uint8_t>(0x100u - (sum & 0xFFu));
    record.checksumRight = record.wellFormed && record.type >= 0 && record.checksumPresent &&
                           record.checksum == record.checksumWanted;
}
}  // namespace

bool hexRecordUsed(const HexRecord& record)
{
    return record.typeDigit == '0' || record.typeDigit == '2' || record.typeDigit == '4';
}

namespace {
bool crInside(const HexRecord& record)
{
    for (std::size_t i = 0; i + 1 < record.textLength; ++i)
        if (record.text[i] == '\r' && !blankFrom(record, i + 1))
            return true;
    return false;
}

bool markInside(const HexRecord& record)
{
    for (std::size_t i = 1; i < record.textLength; ++i)
        if (record.text[i] == ':')
            return true;
    return false;
}

// A line that is no whole record: cut short, a stray character, or more
// after its checksum than blanks.
HexLineFault shapeFault(const HexRecord& record)
{
    const std::size_t end = record.lengthKnown ? 1 + 2 * (RECORD_FIXED_PAIRS + record.length) : 3;
    for (std::size_t i = 1; i < end; ++i)
        if (hexDigitValue(charAt(record, i)) < 0)
            return blankFrom(record, i) ? HEX_LINE_CUT : HEX_LINE_NOT_HEX;
    return HEX_LINE_TRAILING;
}
}  // namespace

HexLineFault hexLineFault(const HexRecord& record)
{
    const bool used = hexRecordUsed(record);
    const bool base = record.typeDigit == '2' || record.typeDigit == '4';
    const bool tooLong = used && record.length > HEX_USED_RECORD_LIMIT;
    if (record.wellFormed && !tooLong && (!base || record.length == 2))
        return HEX_LINE_TAKEN;
    if (crInside(record))
        return HEX_LINE_CR_ONLY;
    if (record.mark != ':')
        return HEX_LINE_NOT_RECORD;
    if (tooLong)
        return HEX_LINE_TOO_LONG;
    if (markInside(record))
        return HEX_LINE_JOINED;
    if (!record.wellFormed)
        return shapeFault(record);
    return HEX_LINE_BASE_LENGTH;
}

bool hexFieldValue(const HexRecord& record, std::size_t pos, std::size_t width, std::uint32_t& value)
{
    const std::size_t end = pos + width < record.textLength ? pos + width : record.textLength;
    std::size_t i = pos;
    while (i < end && isHexSpace(record.text[i]))
        ++i;
    if (i >= end || hexDigitValue(record.text[i]) < 0)
        return false;
    std::uint32_t result = 0;
    for (; i < end && hexDigitValue(record.text[i]) >= 0; ++i)
        result = (result << 4) | static_cast<std::uint32_t>(hexDigitValue(record.text[i]));
    value = result;
    return true;
}

bool hexAddressBase(const HexRecord& record, bool wordMode, std::uint32_t& base)
{
    std::uint32_t field = 0;
    if (record.typeDigit != '2' && record.typeDigit != '4')
        return false;
    if (!hexFieldValue(record, HEX_DATA_POS, 2 * record.length, field))
        return false;
    if (record.typeDigit == '4')
        base = field * LINEAR_BASE_UNIT;
    else
        base = field * (wordMode ? 32u : 16u);
    return true;
}

HexScanResult scanHexFile(const char* path, HexRecordHandler handler, void* context)
{
    std::FILE* file = openInputFile(path);
    if (file == nullptr)
        return HEX_SCAN_NOT_OPENED;
    LineSource source{file};
    Line line;
    HexRecord record;
    unsigned lineNumber = 0;
    LineRead status;
    HexScanResult result = HEX_SCAN_DONE;
    while ((status = readLine(source, line)) == LINE_READ) {
        ++lineNumber;
        if (isBlank(line))
            continue;
        decode(line, lineNumber, record);
        if (!handler(record, context)) {
            result = HEX_SCAN_STOPPED;
            break;
        }
    }
    if (status == LINE_READ_ERROR)
        result = HEX_SCAN_READ_FAILED;
    std::fclose(file);
    return result;
}
