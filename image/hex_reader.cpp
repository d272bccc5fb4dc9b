#include "image/hex_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "diag/console.h"
#include "image/file_types.h"
#include "image/hex_records.h"
#include "image/image_buffer.h"
#include "image/image_geometry.h"

namespace {

constexpr std::uint32_t MAIN_FIRST_OFFSET_LIMIT = 0x20000;
// The word image's header holds the word bounds in 16 bits.
constexpr std::uint32_t DSP_WORD_LIMIT = 0xFFFF;

struct HexRead {
    const char* fileName;
    bool wordMode;
    bool mainImage;
    std::uint32_t addressBase;  // set by segment (02) and linear (04) records
    std::uint32_t dataRecords;
};

bool formatFault(const char* fileName)
{
    consolePrint("Input file not Intel Hex format:%s", fileName);
    return false;
}

// Stores the data field of one data record: length bytes in both modes.
bool storeData(HexRead& read, const HexRecord& record, std::uint32_t address)
{
    const std::uint32_t length = record.length;
    // 64 bits: with a linear base, a record's end and its word-mode offset
    // can pass 32. A record that ends there lies far beyond the buffer.
    std::uint64_t offset = read.wordMode ? 2ull * address : address;
    const std::uint64_t end = std::uint64_t{address} + (read.wordMode ? length / 2 : length);
    if (end > UINT32_MAX) {
        consolePrint("Input file address out of bounds:0x%llx", static_cast<unsigned long long>(offset));
        return false;
    }
    if (end > nMaxHexAddress)
        nMaxHexAddress = static_cast<std::uint32_t>(end);
    if (address < nMinHexAddress)
        nMinHexAddress = address;
    ++read.dataRecords;

    if (read.wordMode && end > DSP_WORD_LIMIT) {
        consolePrint("DSP word address beyond 0xFFFF: %s", read.fileName);
        return false;
    }
    if (read.mainImage && offset > MAIN_FIRST_OFFSET_LIMIT) {
        consolePrint("Input file address out of bounds:0x%llx", static_cast<unsigned long long>(offset));
        return false;
    }
    if (offset + length <= IMAGE_BUFFER_SIZE) {
        std::memcpy(imageBuffer + offset, record.data, length);
        return true;
    }
    for (std::uint32_t i = 0; i < length; ++i, ++offset) {
        if (offset >= IMAGE_BUFFER_SIZE) {
            consolePrint("Input file address out of bounds:0x%llx", static_cast<unsigned long long>(offset));
            continue;
        }
        imageBuffer[offset] = record.data[i];
    }
    return true;
}

bool takeRecord(const HexRecord& record, void* context)
{
    HexRead& read = *static_cast<HexRead*>(context);
    if (hexLineFault(record) != HEX_LINE_TAKEN)
        return formatFault(read.fileName);
    const std::uint32_t address = record.address + read.addressBase;

    switch (record.typeDigit) {
    case '0':
        return storeData(read, record, address);
    case '2':
    case '4':
        return hexAddressBase(record, read.wordMode, read.addressBase) || formatFault(read.fileName);
    default:
        return true;  // any other type, the end-of-file record included, is skipped whole
    }
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

    HexRead read{fileName, fileType == TYPE_DSP_HEX, fileType == TYPE_MAIN_HEX, 0, 0};
    switch (scanHexFile(fileName, takeRecord, &read)) {
    case HEX_SCAN_NOT_OPENED:
        consolePrint("Could not open: %s", fileName);
        return 0;
    case HEX_SCAN_READ_FAILED:
        consolePrint("Could not read: %s", fileName);
        return 0;
    case HEX_SCAN_STOPPED:
        return 0;  // the record's fault has been printed
    case HEX_SCAN_DONE:
        break;
    }
    return read.wordMode ? makeWordImage(read) : 1;
}
