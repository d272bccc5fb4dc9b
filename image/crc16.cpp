#include "image/crc16.h"

#include <array>

namespace {
// tables[0] is the byte-at-a-time table; tables[k][i] is the register that
// byte i followed by k zero bytes leaves, so four bytes take four lookups.
using CrcTables = std::array<std::array<std::uint16_t, 256>, 4>;
constexpr CrcTables makeTables()
{
    CrcTables tables{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t reg = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1u) ? static_cast<std::uint16_t>((reg >> 1) ^ 0x1021u)
                             : static_cast<std::uint16_t>(reg >> 1);
        tables[0][i] = reg;
    }
    for (unsigned k = 1; k < 4; ++k)
        for (unsigned i = 0; i < 256; ++i) {
            const std::uint16_t prev = tables[k - 1][i];
            tables[k][i] = static_cast<std::uint16_t>((prev >> 8) ^ tables[0][prev & 0xFFu]);
        }
    return tables;
}
constexpr CrcTables crcTables = makeTables();
}  // namespace

std::uint16_t updateCrc16(const std::uint8_t* data, std::uint32_t length)
{
    if (length == 0)
        return 0;
    const auto& t = crcTables;
    unsigned reg = 0xFFFF;
    std::uint32_t i = 0;
    for (; i + 4 <= length; i += 4) {
        reg ^= data[i] | unsigned{data[i + 1]} << 8;
        reg = t[3][reg & 0xFFu] ^ t[2][reg >> 8] ^ t[1][data[i + 2]] ^ t[0][data[i + 3]];
    }
    for (; i < length; ++i)
        reg = (reg >> 8) ^ t[0][(reg ^ data[i]) & 0xFFu];
    reg = ~reg & 0xFFFFu;
    return static_cast<std::uint16_t>((reg << 8) | (reg >> 8));
}
