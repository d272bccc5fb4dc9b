#include "platform/utf8_text.h"

std::size_t utf8SequenceLength(const char* text, std::size_t size, std::size_t at)
{
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                       : lead >= 0xE0 && lead <= 0xEF               ? 3
                       : lead >= 0xF0 && lead <= 0xF4               ? 4
                                                                    : 0;
    if (length == 0 || at + length > size)
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    unsigned char second = length > 1 ? byte(at + 1) : 0;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

std::size_t firstNonUtf8(const std::string& text)
{
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = utf8SequenceLength(text.data(), text.size(), at);
        if (length == 0)
            return at;
        at += length;
    }
    return text.size();
}
