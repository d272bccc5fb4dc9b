// ICMP echo messages, as VNfleet sends them to see a device back after its
// reboot and as VNsim answers them. Their fields are in network byte order,
// unlike the code-update protocol's.
#pragma once

#include <cstdint>

constexpr std::uint8_t ICMP_ECHO_REPLY = 0;
constexpr std::uint8_t ICMP_ECHO_REQUEST = 8;
constexpr int ECHO_HEADER_SIZE = 8;
constexpr int IPV4_HEADER_SIZE = 20;  // without options, as we write it
constexpr std::uint8_t IPV4_PROTOCOL_ICMP = 1;

struct EchoFields {
    std::uint8_t type;
    std::uint16_t identifier;
    std::uint16_t sequence;
};

// The Internet checksum (ones' complement sum of 16-bit words).
std::uint16_t internetChecksum(const std::uint8_t* data, int length);

// An echo message of the given type with the payload, its checksum filled
// in; its length, or 0 when it does not fit in size.
int buildEcho(const EchoFields& fields, const std::uint8_t* payload, int payloadLength,
              std::uint8_t* out, int size);

// The fields of an ICMP echo request or reply; false for anything else (too
// short, another type, a code other than 0).
bool readEcho(const std::uint8_t* message, int length, EchoFields* fields);

// An IPv4 packet carrying ICMP: its addresses (network byte order) and where
// the ICMP message starts; false for anything else.
struct Ipv4Icmp {
    std::uint32_t source;
    std::uint32_t destination;
    int icmpOffset;
};
bool readIpv4Icmp(const std::uint8_t* packet, int length, Ipv4Icmp* found);

// An IPv4 header for an ICMP message of icmpLength bytes from source to
// destination (network byte order), checksum filled in; IPV4_HEADER_SIZE
// bytes at out.
void buildIpv4Icmp(std::uint32_t source, std::uint32_t destination, int icmpLength,
                   std::uint8_t* out);
