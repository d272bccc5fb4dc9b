// What VNinfo found out about one file, and what each kind of problem
// makes the exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "diag/console.h"

// Exit statuses. When several problems are found, the lowest number wins:
// the list runs from the most to the least fundamental.
constexpr int INFO_FIT = 0;            // every check passed
constexpr int INFO_USAGE = 1;          // bad command line
constexpr int INFO_UNREADABLE = 2;     // cannot open, or VNloader's loader refuses it
constexpr int INFO_PACKAGE_CRC = 3;    // body does not match the package header's CRC
constexpr int INFO_PAGE_HEADER = 4;    // deciphered page header does not check out
constexpr int INFO_REFUSED = 5;        // the transfer would refuse the image
constexpr int INFO_MISMATCH = 6;       // contents disagree with the headers or the type
constexpr int INFO_OUT_OF_RANGE = 7;   // part of the image would not arrive where it belongs
constexpr int INFO_HEX_CHECKSUM = 8;   // a HEX record's checksum is wrong or missing
constexpr int INFO_HEX_OVERLAP = 9;    // HEX data records write over earlier ones
constexpr int INFO_HEX_NO_END = 10;    // a HEX file without an end-of-file record
constexpr int INFO_HEX_AFTER_END = 11; // HEX data records after the end-of-file record

struct Finding {
    int status;
    std::string text;
};

// The package file as stored: its 12-byte header and its body.
struct PackageView {
    bool present;
    std::uint32_t headerBytes;  // how much of the header the file holds
    std::uint8_t magic;
    std::uint8_t fileType;
    std::uint32_t minBound;
    std::uint32_t maxBound;
    std::uint16_t storedCrc;
    std::uint16_t bodyCrc;      // over the body as VNloader reads it
    std::uint32_t bodyLength;   // as VNloader reads it
    std::uint64_t fileBodyLength;  // as the file holds it
    bool bodyTooLong;           // more than the image buffer holds
    bool wholePages;            // a page header plus whole pages
    std::uint32_t bodyPages;    // pages after the page header, a partial one counted
};

// The page header at the front of the deciphered body.
struct PageHeaderView {
    bool checked;
    bool wholeBody;                // deciphered whole (-EA)
    std::uint32_t decipheredLength;
    std::uint16_t sourceLength;    // as stored: the low 16 bits
    std::uint32_t sourceLengthFull;  // with lengthFits: the whole length the body holds
    bool lengthFits;
    std::uint16_t storedCrc;
    std::uint16_t imageCrc;        // of the padded image as deciphered
    bool crcOk;
    std::uint8_t copied[4];        // page header bytes 4 to 7
    std::uint8_t imageBytes[4];    // padded image bytes 4 to 7
    bool copiedOk;
    bool otherModeOk;              // the other -EA setting would have checked out
};

// [start, end) in the file's address units (bytes, or words in a DSP file).
struct HexRun {
    std::uint32_t start;
    std::uint32_t end;
};

// Records of a HEX file that the record report names, by line.
struct HexChecksumFault {
    std::uint32_t line;
    bool present;
    std::uint8_t stored;
    std::uint8_t wanted;
};

struct HexOverlap {
    std::uint32_t line;
    HexRun where;
};

struct HexIgnored {
    std::uint32_t line;
    int type;
};

// The line the loader refuses a HEX file on, and the rule it breaks.
struct HexRefusal {
    std::uint32_t line;           // 0: no line refused
    int type;                     // positions 7-8, -1 when they are not hex
    int length;                   // positions 1-2, -1 when they are not hex
    bool notRecord;               // no record at all: a comment or other text
    const char* rule;
    const char* advice;
};

struct HexView {
    bool present;
    HexRefusal refusal;
    bool wordMode;
    std::uint32_t minBound;
    std::uint32_t maxBound;
    std::uint32_t dataRecords;
    std::uint32_t otherRecords;   // skipped: end-of-file, start address, ...
    std::uint32_t overlaps;       // records that write over an earlier one
    std::vector<HexChecksumFault> checksumFaults;
    std::vector<HexOverlap> overlapping;
    std::uint32_t endOfFileLine;  // the first end-of-file record, 0 when none
    std::vector<std::uint32_t> dataAfterEnd;  // lines of data records after it
    std::vector<HexIgnored> ignored;          // start address records (03, 05)
    std::vector<HexRun> runs;     // data, adjacent records joined
    std::vector<HexRun> gaps;     // holes between the bounds, sent as zeros
    std::uint32_t wordImageOffset;  // DSP: where the word image starts in the buffer
    std::uint32_t wordImageLength;
    std::vector<std::uint8_t> wordImageStart;  // its first bytes
};

struct RawView {
    bool present;
    std::uint32_t contentLength;
    std::uint32_t loadedLength;   // with the length prefix, but for html
};

// The transfer VNloader would make of the loaded image.
struct TransferView {
    bool planned;
    bool refused;
    std::string refusal;          // VNloader's message
    int loaderExitStatus;         // and the status it would end with
    std::uint16_t firstPage;
    std::uint16_t endPage;
    std::uint32_t packets;        // code-update packets
    std::uint8_t firstFlags;
    int firstLength;
    bool haveLater;
    std::uint8_t laterFlags;
    std::uint8_t finishType;
    std::uint8_t finishFlags;
    std::uint16_t imageCrc;
    std::uint32_t imageBytes;     // image after any page header
    std::uint32_t imagePages;
};

struct InfoReport {
    std::string path;
    const char* inputKind;        // "package", "main-hex", "dsp-hex", "java", "logo", "html"
    bool loaderAccepted;
    std::string loaderMessage;    // what VNloader's loader printed
    PackageView package;
    PageHeaderView pageHeader;
    HexView hex;
    RawView raw;
    TransferView transfer;
    std::vector<Finding> problems;
    std::vector<std::string> notes;
};

Finding makeFinding(int status, const char* format, ...) VN_PRINTF(2, 3);
void addProblem(InfoReport& report, int status, const char* format, ...) VN_PRINTF(3, 4);
void addNote(InfoReport& report, const char* format, ...) VN_PRINTF(2, 3);

// The exit status: the lowest problem status, INFO_FIT when there is none.
int reportStatus(const InfoReport& report);
// One line on what a status means.
const char* statusMeaning(int status);
// "main CPU HEX", "DSP HEX", "logo", "Java", "html", or "unknown".
const char* typeName(int fileType);
