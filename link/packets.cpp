#include "link/packets.h"

#include <cstring>

void putPasswordField(std::uint8_t* packet, const char* password)
{
    std::uint8_t* field = packet + OFF_PASSWORD;
    int i = 0;
    for (; i < PASSWORD_FIELD_SIZE && password[i] != '\0'; ++i)
        field[i] = static_cast<std::uint8_t>(password[i]);
    for (; i < PASSWORD_FIELD_SIZE; ++i)
        field[i] = 0;
}

void startCodeUpdatePacket(std::uint8_t* packet, std::uint8_t flags, std::uint16_t startPage,
                           const char* password)
{
    packet[OFF_OPCODE] = TFTP_CODE_UPDATE;
    packet[OFF_FLAGS] = flags;
    putU16(packet + OFF_START_PAGE, startPage);
    putPasswordField(packet, password);
    putU16(packet + OFF_FIXED_WORD, FIXED_WORD);
}

void copyImageBytes(std::uint8_t* to, const std::uint8_t* image, std::uint32_t imageSize,
                    std::uint64_t from, std::uint32_t count)
{
    std::uint32_t inside = 0;
    if (from < imageSize) {
        std::uint64_t left = imageSize - from;
        inside = left < count ? static_cast<std::uint32_t>(left) : count;
        std::memcpy(to, image + from, inside);
    }
    std::memset(to + inside, 0, count - inside);
}

int fillCodeUpdatePacket(std::uint8_t* packet, int pageCount, int headerBytes,
                         const std::uint8_t* image, std::uint32_t imageSize, std::uint64_t from)
{
    packet[OFF_COUNT_OR_TYPE] = static_cast<std::uint8_t>(pageCount);
    copyImageBytes(packet + OFF_PAYLOAD, image, imageSize, from,
                   static_cast<std::uint32_t>(headerBytes + PAYLOAD_SIZE));
    return headerBytes + CODE_UPDATE_SIZE;
}

int makeFinishPacket(std::uint8_t* packet, std::uint8_t finishType, std::uint8_t flags,
                     std::uint16_t firstPage, std::uint16_t endPage, std::uint16_t imageCrc)
{
    packet[OFF_OPCODE] = TFTP_FINISH;
    packet[OFF_COUNT_OR_TYPE] = finishType;
    packet[OFF_FLAGS] = flags;
    putU16(packet + OFF_START_PAGE, 0);
    putU16(packet + OFF_FIRST_PAGE, firstPage);
    putU16(packet + OFF_END_PAGE, endPage);
    putU16(packet + OFF_IMAGE_CRC, imageCrc);
    return FINISH_PACKET_SIZE;
}

ReplyFields readReply(const std::uint8_t* reply)
{
    return ReplyFields{reply[OFF_REPLY_CODE], reply[OFF_NACK_REASON],
                       getU16(reply + OFF_REPLY_PAGE)};
}
