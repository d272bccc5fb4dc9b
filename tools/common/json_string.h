// JSON strings for the companions' output (reports, ledgers): always valid UTF-8.
#pragma once

#include <string>

// text as a quoted JSON string; a byte that is not part of a valid UTF-8
// sequence becomes U+FFFD.
std::string jsonString(const std::string& text);
