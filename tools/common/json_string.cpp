#include "json_string.h"

#include <cstdio>

#include "platform/utf8_text.h"

namespace {
const char* const REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD
}  // namespace

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    char escape[8];
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = utf8SequenceLength(text.data(), text.size(), at);
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
