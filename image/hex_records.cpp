#include "image/hex_records.h"

#include <cstdio>

#include "image/input_file.h"

bool isHexSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

namespace {
constexpr std::size_t LENGTH_POS = 1;
constexpr std::size_t ADDRESS_POS = 3;
constexpr std::size_t TYPE_POS = 7;
constexpr std::uint32_t RECORD_FIXED_PAIRS = 5;  // length, address (2), type, checksum
constexpr char DOS_END_OF_FILE = 0x1A;
constexpr std::uint32_t LINEAR_BASE_UNIT = 0x10000;

enum LineRead { LINE_READ, LINE_END_OF_FILE, LINE_READ_ERROR };

struct Line {
    char text[HEX_LINE_CAPACITY + 1];
    std::size_t length;  // characters kept
    bool restBlank;      // the characters past the kept ones are trailing blanks
};

// What may follow a record on its line: white space, and the end-of-file
// marks that old DOS tools write.
bool isTrailingBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == DOS_END_OF_FILE;
}

// Reads one whole line, so that what a long line holds past the kept
// characters is never taken for a line of its own.
LineRead readLine(std::FILE* file, Line& line)
{
    line.length = 0;
    line.restBlank = true;
    bool read = false;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        read = true;
        if (line.length < HEX_LINE_CAPACITY)
            line.text[line.length++] = static_cast<char>(c);
        else if (!isTrailingBlank(static_cast<char>(c)))
            line.restBlank = false;
        if (c == '\n')
            break;
    }
    line.text[line.length] = '\0';
    if (std::ferror(file))
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

// Hex digits from position 1 to the record's end, trailing blanks after it.
bool holdsOnlyItsRecord(const Line& line, std::uint32_t length)
{
    const std::size_t end = 1 + 2 * (RECORD_FIXED_PAIRS + length);
    if (end > line.length)
        return false;
    for (std::size_t i = 1; i < end; ++i)
        if (hexDigitValue(line.text[i]) < 0)
            return false;
    for (std::size_t i = end; i < line.length; ++i)
        if (!isTrailingBlank(line.text[i]))
            return false;
    return line.restBlank;
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

void decode(const Line& line, unsigned lineNumber, HexRecord& record)
{
    record.lineNumber = lineNumber;
    record.text = line.text;
    record.textLength = line.length;
    record.mark = line.text[0];
    const int length = pairAt(record, LENGTH_POS);
    record.length = length < 0 ? 0 : static_cast<std::uint32_t>(length);
    record.address = 0;
    record.wellFormed = length >= 0 && holdsOnlyItsRecord(line, record.length) &&
                        hexFieldValue(record, ADDRESS_POS, 4, record.address);
    record.typeDigit = charAt(record, TYPE_POS + 1);
    record.type = pairAt(record, TYPE_POS);

    record.dataBytes = 0;
    while (record.dataBytes < record.length && record.dataBytes < sizeof record.data) {
        const int byte = pairAt(record, HEX_DATA_POS + 2 * record.dataBytes);
        if (byte < 0)
            break;
        record.data[record.dataBytes++] = static_cast<std::uint8_t>(byte);
    }
    const int checksum = record.dataBytes == record.length
                             ? pairAt(record, HEX_DATA_POS + 2 * record.length)
                             : -1;
    record.checksumPresent = checksum >= 0;
    record.checksum = static_cast<std::uint8_t>(checksum);
    unsigned sum = record.length + (record.address >> 8) + record.address +
                   static_cast<unsigned>(record.type);
    for (std::uint32_t i = 0; i < record.dataBytes; ++i)
        sum += record.data[i];
    record.checksumWanted = static_cast<std::uint8_t>(0x100u - (sum & 0xFFu));
    record.checksumRight = record.wellFormed && record.type >= 0 && record.checksumPresent &&
                           record.checksum == record.checksumWanted;
}
}  // namespace

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
    Line line;
    HexRecord record;
    unsigned lineNumber = 0;
    LineRead status;
    HexScanResult result = HEX_SCAN_DONE;
    while ((status = readLine(file, line)) == LINE_READ) {
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
