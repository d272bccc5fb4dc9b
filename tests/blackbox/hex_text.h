// Intel HEX text for test inputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One record, with its checksum and a CR LF line end.
std::string hexRecord(unsigned type, unsigned address, const std::vector<std::uint8_t>& data);
