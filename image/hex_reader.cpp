#include "image/hex_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "diag/console.h"
#include "image/file_types.h"
#include "image/image_buffer.h"
#include "image/image_geometry.h"

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

constexpr std::size_t LINE_CAPACITY = 255;
constexpr std::uint32_t MAX_RECORD_LENGTH = 32;
constexpr std::uint32_t MAIN_FIRST_OFFSET_LIMIT = 0x20000;

// Fixed character positions of a record.
constexpr std::size_t LENGTH_POS = 1;
constexpr std::size_t ADDRESS_POS = 3;
constexpr std::size_t TYPE_POS = 8;  // second digit of the type; the first is ignored
constexpr std::size_t DATA_POS = 9;

// One line as read, at most 255 characters up to and including its line feed.
struct Line {
    char text[LINE_CAPACITY + 1];
    std::size_t length;
};

bool readLine(std::FILE* file, Line& line)
{
    line.length = 0;
    int c;
    while (line.length < LINE_CAPACITY && (c = std::fgetc(file)) != EOF) {
        line.text[line.length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    line.text[line.length] = '\0';
    return line.length != 0;
}

// Positions past the line's end hold nothing, never leftovers of other lines.
char charAt(const Line& line, std::size_t pos)
{
    return pos < line.length ? line.text[pos] : '\0';
}

bool isBlank(const Line& line)
{
    for (std::size_t i = 0; i < line.length; ++i)
        if (!isHexSpace(line.text[i]))
            return false;
    return true;
}

// Converts a field the way a "%x" scan of it alone would: leading white
// space, then hex digits up to the first other character. False when no
// digit follows the white space.
bool convertField(const Line& line, std::size_t pos, std::size_t width, std::uint32_t& value)
{
    const std::size_t end = pos + width < line.length ? pos + width : line.length;
    std::size_t i = pos;
    while (i < end && isHexSpace(line.text[i]))
        ++i;
    if (i >= end || hexDigitValue(line.text[i]) < 0)
        return false;
    std::uint32_t result = 0;
    for (; i < end && hexDigitValue(line.text[i]) >= 0; ++i)
        result = (result << 4) | static_cast<std::uint32_t>(hexDigitValue(line.text[i]));
    value = result;
    return true;
}

int formatFault(const char* fileName)
{
    consolePrint("Input file not Intel Hex format:%s", fileName);
    return 0;
}

struct HexRead {
    const char* fileName;
    bool wordMode;
    bool mainImage;
    std::uint32_t segmentBase;
    std::uint32_t dataRecords;
};

// Stores the data field of one data record: length bytes from position 9,
// in both modes.
int storeData(HexRead& read, const Line& line, std::uint32_t length, std::uint32_t address)
{
    std::uint8_t data[MAX_RECORD_LENGTH];
    for (std::uint32_t i = 0; i < length; ++i) {
        const int high = hexDigitValue(charAt(line, DATA_POS + 2 * i));
        const int low = hexDigitValue(charAt(line, DATA_POS + 2 * i + 1));
        if (high < 0 || low < 0)
            return formatFault(read.fileName);
        data[i] = static_cast<std::uint8_t>((high << 4) | low);
    }

    const std::uint32_t end = address + (read.wordMode ? length / 2 : length);
    if (end > nMaxHexAddress)
        nMaxHexAddress = end;
    if (address < nMinHexAddress)
        nMinHexAddress = address;
    ++read.dataRecords;

    std::uint32_t offset = read.wordMode ? 2 * address : address;
    if (read.mainImage && offset > MAIN_FIRST_OFFSET_LIMIT) {
        consolePrint("Input file address out of bounds:0x%x", static_cast<unsigned>(offset));
        return 0;
    }
    for (std::uint32_t i = 0; i < length; ++i, ++offset) {
        if (offset >= IMAGE_BUFFER_SIZE) {
            consolePrint("Input file address out of bounds:0x%x", static_cast<unsigned>(offset));
            continue;
        }
        imageBuffer[offset] = data[i];
    }
    return 1;
}

int readRecords(HexRead& read, std::FILE* file)
{
    Line line;
    while (readLine(file, line)) {
        if (isBlank(line))
            continue;
        std::uint32_t length = 0;
        std::uint32_t address = 0;
        if (!convertField(line, LENGTH_POS, 2, length) || length > MAX_RECORD_LENGTH ||
            !convertField(line, ADDRESS_POS, 4, address))
            return formatFault(read.fileName);
        address += read.segmentBase;

        const char type = charAt(line, TYPE_POS);
        if (type == '0') {
            if (!storeData(read, line, length, address))
                return 0;
        } else if (type == '2') {
            std::uint32_t segment = 0;
            if (!convertField(line, DATA_POS, 2 * length, segment))
                return formatFault(read.fileName);
            read.segmentBase = segment * (read.wordMode ? 32u : 16u);
        }
        // Any other type, the end-of-file record included, is skipped.
    }
    return 1;
}

// Turns the loaded words into the DSP word image: a header of the two word
// bounds, then every word low byte first.
int makeWordImage(const HexRead& read)
{
    if (read.dataRecords == 0) {
        consolePrint("No data records in: %s", read.fileName);
        return 0;
    }
    if (nMinHexAddress > nMaxHexAddress ||
        2ull * nMaxHexAddress + WORD_IMAGE_HEADER_SIZE > IMAGE_BUFFER_SIZE) {
        consolePrint("Word image too large for the image buffer: %s", read.fileName);
        return 0;
    }
    const std::uint32_t start = 2 * nMinHexAddress;
    const std::uint32_t end = 2 * nMaxHexAddress + WORD_IMAGE_HEADER_SIZE;
    std::memmove(imageBuffer + start + WORD_IMAGE_HEADER_SIZE, imageBuffer + start,
                 end - start - WORD_IMAGE_HEADER_SIZE);
    imageBuffer[start] = static_cast<std::uint8_t>(nMinHexAddress);
    imageBuffer[start + 1] = static_cast<std::uint8_t>(nMinHexAddress >> 8);
    imageBuffer[start + 2] = static_cast<std::uint8_t>(nMaxHexAddress);
    imageBuffer[start + 3] = static_cast<std::uint8_t>(nMaxHexAddress >> 8);
    for (std::uint32_t offset = start + WORD_IMAGE_HEADER_SIZE; offset < end; offset += 2)
        std::swap(imageBuffer[offset], imageBuffer[offset + 1]);
    return 1;
}

}  // namespace

int readHexFile(const char* fileName, int fileType)
{
    nMaxHexAddress = 0;
    nMinHexAddress = IMAGE_BUFFER_SIZE;
    std::memset(imageBuffer, 0, sizeof imageBuffer);

    std::FILE* file = std::fopen(fileName, "rb");
    if (file == nullptr) {
        consolePrint("Could not open: %s", fileName);
        return 0;
    }
    HexRead read{fileName, fileType == TYPE_DSP_HEX, fileType == TYPE_MAIN_HEX, 0, 0};
    const int loaded = readRecords(read, file);
    std::fclose(file);
    if (!loaded)
        return 0;
    return read.wordMode ? makeWordImage(read) : 1;
}
