#include "fleet_address.h"

namespace {
struct Block {
    std::uint8_t first;  // first number of the block
    std::uint8_t last;
    const char* name;
};

// Addresses no device holds: "this network", multicast, reserved and the
// broadcast address.
constexpr Block notDevices[] = {
    {0, 0, "this network, 0.0.0.0/8"},
    {224, 239, "multicast, 224.0.0.0/4"},
    {240, 255, "reserved or broadcast, 240.0.0.0/4"},
};
}  // namespace

bool parseDeviceAddress(const std::string& text, std::uint32_t* ip, std::string* problem)
{
    std::uint32_t value = 0;
    std::size_t at = 0;
    unsigned first = 0;
    *problem = "not an IPv4 address: " + text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.'))
            return false;
        std::size_t start = at;
        unsigned number = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 4)
            number = number * 10 + static_cast<unsigned>(text[at++] - '0');
        if (at == start || at - start > 3 || number > 255)
            return false;
        // VNloader's -IP reads 010 as octal: one text, two devices.
        if (text[start] == '0' && at - start > 1) {
            *problem = "a leading zero in an address (VNloader reads it as octal): " + text;
            return false;
        }
        if (part == 0)
            first = number;
        // Network byte order: the first number is the lowest byte in memory.
        value |= number << (8 * part);
    }
    if (at != text.size())
        return false;
    for (const Block& block : notDevices)
        if (first >= block.first && first <= block.last) {
            *problem = "not a device's address (" + std::string(block.name) + "): " + text;
            return false;
        }
    *ip = value;
    return true;
}
