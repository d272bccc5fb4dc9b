// fileType codes, as the command line, packages and the device use them.
#pragma once

#include <cstdint>

// An update package may carry 1 to 7; only these are packaged or sent.
constexpr std::uint8_t TYPE_MAIN_HEX = 2;
constexpr std::uint8_t TYPE_DSP_HEX = 3;
constexpr std::uint8_t TYPE_LOGO = 4;
constexpr std::uint8_t TYPE_JAVA = 5;
constexpr std::uint8_t TYPE_HTML = 6;
