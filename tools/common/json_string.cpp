#include "json_string.h"

#include <cstdio>

namespace {
const char* const REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence at text[at], 0 when there is none.
std::size_t sequenceLength(const std::string& text, std::size_t at)
{
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                       : lead >= 0xE0 && lead <= 0xEF               ? 3
                       : lead >= 0xF0 && lead <= 0xF4               ? 4
                                                                    : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    unsigned char second = length > 1 ? byte(at + 1) : 0;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}
}  // namespace

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    char escape[8];
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = sequenceLength(text, at);
        auto c = static_cast<unsigned char>(text[at]);
        if (length == 0) {
            out += REPLACEMENT;
            ++at;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out + "\"";
}
