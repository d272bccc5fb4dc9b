#pragma once

#include <cstdint>

// The CRC-16 of update packages and the finish packet: start 0xFFFF,
// right-shifting with 0x1021, complemented, bytes exchanged. 0 for no bytes.
std::uint16_t updateCrc16(const std::uint8_t* data, std::uint32_t length);
