// A device's address as a list gives it: strict dotted decimal, one text
// for one device, and only addresses a device can hold.
#pragma once

#include <cstdint>
#include <string>

// Reads text into ip (network byte order); false with *problem set.
bool parseDeviceAddress(const std::string& text, std::uint32_t* ip, std::string* problem);
