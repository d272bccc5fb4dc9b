// Intel HEX records as the loader reads them: lines up to and including a
// line feed, of which the first HEX_LINE_CAPACITY characters are kept,
// fields at fixed positions (mark 0, length 1-2, address 3-6, type 7-8,
// data from 9).
#pragma once

#include <cstddef>
#include <cstdint>

// The loader takes at most 32 data bytes in the records it uses; records it
// skips may hold up to 255, the most a length field gives.
constexpr std::uint32_t HEX_USED_RECORD_LIMIT = 32;
constexpr std::uint32_t HEX_RECORD_LIMIT = 255;
// Mark, the five fixed pairs and 255 data pairs, with room for a CR LF.
constexpr std::size_t HEX_LINE_CAPACITY = 1 + 2 * (5 + HEX_RECORD_LIMIT) + 2;
constexpr std::size_t HEX_DATA_POS = 9;

struct HexRecord {
    unsigned lineNumber;      // from 1
    const char* text;         // the line's first 255 characters, NUL after them
    std::size_t textLength;
    char mark;                // position 0, ':' in a well-formed file
    // The line holds its record and nothing else: after the mark 5 + length
    // pairs of hex digits, then only space, tab, CR, LF or 0x1A.
    bool wellFormed;
    bool overLong;            // non-blank characters past the kept ones
    std::uint32_t length;     // positions 1-2, 0 when they are not hex
    bool lengthKnown;
    std::uint32_t address;    // positions 3-6: the 16-bit offset, no base added
    char typeDigit;           // position 8: the loader goes by this digit alone
    int type;                 // positions 7-8 as a number, -1 when they are not hex
    std::uint8_t data[HEX_RECORD_LIMIT];
    std::uint32_t dataBytes;  // pairs from position 9 that convert, at most length
    bool checksumPresent;     // a pair follows a whole data field
    std::uint8_t checksum;
    bool checksumRight;       // all bytes of the record add up to 0
    std::uint8_t checksumWanted;  // what the checksum should be, when the fields convert
};

enum HexScanResult {
    HEX_SCAN_DONE,         // the end of the file
    HEX_SCAN_STOPPED,      // the handler asked to stop
    HEX_SCAN_NOT_OPENED,   // cannot be opened, or not a regular file
    HEX_SCAN_READ_FAILED,  // a read error, never taken for the end of the file
};

// Returns false to stop the scan.
using HexRecordHandler = bool (*)(const HexRecord& record, void* context);

// Hands every line that is not blank (white space and DOS end-of-file marks
// only) to the handler, in file order.
HexScanResult scanHexFile(const char* path, HexRecordHandler handler, void* context);

template <typename Handler>
HexScanResult scanHexFile(const char* path, Handler& handler)
{
    return scanHexFile(
        path,
        [](const HexRecord& record, void* context) { return (*static_cast<Handler*>(context))(record); },
        &handler);
}

// Why the loader refuses a line, from the most telling reason down.
enum HexLineFault {
    HEX_LINE_TAKEN,       // the loader takes the line
    HEX_LINE_CR_ONLY,     // a CR inside the line: lines ended by CR alone
    HEX_LINE_NOT_RECORD,  // no record mark and length: a comment or other text
    HEX_LINE_TOO_LONG,    // a data, 02 or 04 record of more than 32 data bytes
    HEX_LINE_JOINED,      // another record follows on the same line
    HEX_LINE_CUT,         // the line ends inside its record
    HEX_LINE_NOT_HEX,     // a character of the record is not a hex digit
    HEX_LINE_TRAILING,    // more characters after the record than white space
    HEX_LINE_BASE_LENGTH, // a 02 or 04 record whose length is not 2
};

// The type digit the loader goes by: data (0), segment (2) or linear (4).
bool hexRecordUsed(const HexRecord& record);
HexLineFault hexLineFault(const HexRecord& record);

// Converts width characters from pos the way a "%x" scan of them alone
// would: leading white space, then hex digits up to the first other
// character. False when no digit follows the white space.
bool hexFieldValue(const HexRecord& record, std::size_t pos, std::size_t width, std::uint32_t& value);

// For a segment (type digit 2) or extended linear address (4) record, the
// address base it sets for the records after it: segment × 16 (× 32 in word
// mode), or upper × 0x10000 in the file's own unit. False when the record
// sets no base or its field does not convert.
bool hexAddressBase(const HexRecord& record, bool wordMode, std::uint32_t& base);

// White space as the C library has it, and a hex digit's value (-1 for any
// other character).
bool isHexSpace(char c);
int hexDigitValue(char c);
