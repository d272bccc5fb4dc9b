// The loaded firmware image and its bounds, shared by loaders and users.
#pragma once

#include <cstdint>

constexpr std::uint32_t IMAGE_BUFFER_SIZE = 0x30000;
constexpr std::uint32_t PAGE_SIZE = 256;
constexpr std::uint32_t PAGE_HEADER_SIZE = 8;
constexpr std::uint32_t PACKAGE_HEADER_SIZE = 12;
constexpr std::uint8_t PACKAGE_MAGIC = 0x41;

extern std::uint8_t imageBuffer[IMAGE_BUFFER_SIZE];
extern std::uint32_t nMinHexAddress;
extern std::uint32_t nMaxHexAddress;
