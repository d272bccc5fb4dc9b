#include "link/echo_packets.h"

#include <cstring>

namespace {
void putBig16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

std::uint16_t getBig16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

constexpr std::uint8_t IPV4_TTL = 64;
}  // namespace

std::uint16_t internetChecksum(const std::uint8_t* data, int length)
{
    std::uint32_t sum = 0;
    for (int i = 0; i + 1 < length; i += 2)
        sum += getBig16(data + i);
    if (length % 2 != 0)
        sum += static_cast<std::uint32_t>(data[length - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

int buildEcho(const EchoFields& fields, const std::uint8_t* payload, int payloadLength,
              std::uint8_t* out, int size)
{
    if (payloadLength < 0 || payloadLength > size - ECHO_HEADER_SIZE)
        return 0;
    out[0] = fields.type;
    out[1] = 0;
    putBig16(out + 2, 0);
    putBig16(out + 4, fields.identifier);
    putBig16(out + 6, fields.sequence);
    if (payloadLength > 0)
        std::memcpy(out + ECHO_HEADER_SIZE, payload, static_cast<std::size_t>(payloadLength));
    int length = ECHO_HEADER_SIZE + payloadLength;
    putBig16(out + 2, internetChecksum(out, length));
    return length;
}

bool readEcho(const std::uint8_t* message, int length, EchoFields* fields)
{
    if (length < ECHO_HEADER_SIZE || message[1] != 0 ||
        (message[0] != ICMP_ECHO_REPLY && message[0] != ICMP_ECHO_REQUEST))
        return false;
    *fields = EchoFields{message[0], getBig16(message + 4), getBig16(message + 6)};
    return true;
}

bool readIpv4Icmp(const std::uint8_t* packet, int length, Ipv4Icmp* found)
{
    if (length < IPV4_HEADER_SIZE || (packet[0] >> 4) != 4)
        return false;
    int headerLength = (packet[0] & 0x0F) * 4;
    if (headerLength < IPV4_HEADER_SIZE || headerLength > length ||
        packet[9] != IPV4_PROTOCOL_ICMP)
        return false;
    std::memcpy(&found->source, packet + 12, 4);
    std::memcpy(&found->destination, packet + 16, 4);
    found->icmpOffset = headerLength;
    return true;
}

void buildIpv4Icmp(std::uint32_t source, std::uint32_t destination, int icmpLength,
                   std::uint8_t* out)
{
    std::memset(out, 0, IPV4_HEADER_SIZE);
    out[0] = 0x45;  // version 4, five words of header
    putBig16(out + 2, static_cast<std::uint16_t>(IPV4_HEADER_SIZE + icmpLength));
    out[8] = IPV4_TTL;
    out[9] = IPV4_PROTOCOL_ICMP;
    std::memcpy(out + 12, &source, 4);
    std::memcpy(out + 16, &destination, 4);
    putBig16(out + 10, internetChecksum(out, IPV4_HEADER_SIZE));
}
