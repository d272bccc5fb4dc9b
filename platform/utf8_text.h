// UTF-8 as the programs check it: no overlong forms, no surrogates, nothing
// past U+10FFFF.
#pragma once

#include <cstddef>
#include <string>

// Length of the valid UTF-8 sequence at text[at], 0 when there is none.
std::size_t utf8SequenceLength(const char* text, std::size_t size, std::size_t at);
// Offset of the first byte that is not part of valid UTF-8; size when all is.
std::size_t firstNonUtf8(const std::string& text);
