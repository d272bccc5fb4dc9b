// The device link's fixed UDP ports.
#pragma once

#include <cstdint>

constexpr std::uint16_t DEBUG_PORT = 9029;  // local: the device's debug datagrams
constexpr std::uint16_t UPDATE_PORT = 69;   // device: the code-update service
