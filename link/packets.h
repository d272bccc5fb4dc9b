// Code-update protocol: packet layouts and codes. Every multi-byte field is
// a little-endian u16, written byte by byte.
#pragma once

#include <cstdint>

constexpr std::uint8_t TFTP_ACK = 1;
constexpr std::uint8_t TFTP_NACK = 2;
constexpr std::uint8_t TFTP_CODE_UPDATE = 5;
constexpr std::uint8_t TFTP_FINISH = 6;

constexpr std::uint8_t NACK_WRONG_PASSWORD = 4;
constexpr std::uint8_t NACK_BAD_CRC = 6;
constexpr std::uint8_t NACK_BAD_VERSION = 8;

constexpr std::uint8_t FINISH_MAIN_HEX = 9;
constexpr std::uint8_t FINISH_DSP_HEX = 10;
constexpr std::uint8_t FINISH_LOGO = 11;
constexpr std::uint8_t FINISH_JAVA = 12;
constexpr std::uint8_t FINISH_HTML = 13;

constexpr std::uint8_t FLAG_PAGE_HEADER = 0x80;
constexpr std::uint8_t FLAG_ENCRYPTED = 0x01;

constexpr int PAGES_PER_PACKET = 4;
constexpr int PACKET_HEADER_SIZE = 23;
constexpr int PAYLOAD_SIZE = 1024;              // four pages
constexpr int CODE_UPDATE_SIZE = 1047;          // header + 1024
constexpr int FIRST_PACKAGE_PACKET_SIZE = 1055; // header + page header + 1024
constexpr int FINISH_PACKET_SIZE = 29;
constexpr int REPLY_LENGTH = 23;
constexpr int PASSWORD_FIELD_SIZE = 16;
constexpr std::uint16_t FIXED_WORD = 16;
constexpr int PACKET_BUFFER_SIZE = 2048;
constexpr int REPLY_TIMEOUT_MS = 10000;

// Packet header offsets.
constexpr int OFF_OPCODE = 0;
constexpr int OFF_COUNT_OR_TYPE = 1;  // pageCount / finishType
constexpr int OFF_FLAGS = 2;
constexpr int OFF_START_PAGE = 3;
constexpr int OFF_PASSWORD = 5;
constexpr int OFF_FIXED_WORD = 21;
constexpr int OFF_PAYLOAD = 23;
// Finish packet fields after the header.
constexpr int OFF_FIRST_PAGE = 23;
constexpr int OFF_END_PAGE = 25;
constexpr int OFF_IMAGE_CRC = 27;
// Reply fields.
constexpr int OFF_REPLY_CODE = 0;
constexpr int OFF_NACK_REASON = 1;
constexpr int OFF_REPLY_PAGE = 3;

inline void putU16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value & 0xFFu);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline std::uint16_t getU16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

// Builders. The send buffer is one PACKET_BUFFER_SIZE array patched in
// place: the fixed part once, pageCount and payload before every send, the
// finish fields over the last payload at the end.

// Set Password field: the password's bytes up to its terminator, at most
// 16 (no terminator then), zero bytes after a shorter one.
void putPasswordField(std::uint8_t* packet, const char* password);

// The fixed part of a code-update packet: opcode, flags, startPage,
// Set Password and fixedWord.
void startCodeUpdatePacket(std::uint8_t* packet, std::uint8_t flags, std::uint16_t startPage,
                           const char* password);

// Copies count image bytes starting at byte `from`; bytes at or beyond
// imageSize read as 0, so nothing outside the image is ever read.
void copyImageBytes(std::uint8_t* to, const std::uint8_t* image, std::uint32_t imageSize,
                    std::uint64_t from, std::uint32_t count);

// Writes pageCount and the payload (headerBytes + 1024 image bytes from
// `from`, whatever pageCount says). Returns the datagram length.
int fillCodeUpdatePacket(std::uint8_t* packet, int pageCount, int headerBytes,
                         const std::uint8_t* image, std::uint32_t imageSize, std::uint64_t from);

// Rewrites the buffer as a finish packet; the password and fixedWord stay
// as written before. Returns FINISH_PACKET_SIZE.
int makeFinishPacket(std::uint8_t* packet, std::uint8_t finishType, std::uint8_t flags,
                     std::uint16_t firstPage, std::uint16_t endPage, std::uint16_t imageCrc);

struct ReplyFields {
    std::uint8_t replyCode;
    std::uint8_t nackReason;
    std::uint16_t replyPage;
};
ReplyFields readReply(const std::uint8_t* reply);
