#include "image/crc16.h"

#include <array>

namespace {
constexpr std::array<std::uint16_t, 256> makeTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t reg = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1u) ? static_cast<std::uint16_t>((reg >> 1) ^ 0x1021u)
                             : static_cast<std::uint16_t>(reg >> 1);
        table[i] = reg;
    }
    return table;
}
constexpr auto crcTable = makeTable();
}  // namespace

std::uint16_t updateCrc16(const std::uint8_t* data, std::uint32_t length)
{
    if (length == 0)
        return 0;
    std::uint16_t reg = 0xFFFF;
    for (std::uint32_t i = 0; i < length; ++i)
        reg = static_cast<std::uint16_t>((reg >> 8) ^ crcTable[(reg ^ data[i]) & 0xFFu]);
    reg = static_cast<std::uint16_t>(~reg);
    return static_cast<std::uint16_t>((reg << 8) | (reg >> 8));
}
