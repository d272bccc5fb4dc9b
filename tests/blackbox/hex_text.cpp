#include "hex_text.h"

#include <cstdio>

std::string hexRecord(unsigned type, unsigned address, const std::vector<std::uint8_t>& data)
{
    char text[16];
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  address & 0xFFFF, type);
    std::string line = text;
    for (std::uint8_t b : data) {
        std::snprintf(text, sizeof text, "%02X", b);
        line += text;
        sum += b;
    }
    std::snprintf(text, sizeof text, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text;
}
