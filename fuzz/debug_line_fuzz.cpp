// formatDebugLine on arbitrary datagram texts, times and sender addresses.
// The line must fit its buffer whole, end with a line feed and carry no
// control byte but TAB, LF and CR, nor a C1 control in UTF-8; a smaller
// buffer must cut it, not overrun.
#include <cstdio>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "link/debug_listener.h"

namespace {
bool controlByte(unsigned char c)
{
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F;
}

// The UTF-8 form of a C1 control: C2 80 to C2 9F.
bool c1Pair(const char* text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    return p[0] == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F;
}

bool controlFree(const char* text, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        if (controlByte(static_cast<unsigned char>(text[i])) || (i + 1 < length && c1Pair(text + i)))
            return false;
    }
    return true;
}

std::size_t escapedLength(const char* text)
{
    std::size_t n = 0;
    for (const char* p = text; *p; ++p) {
        if (c1Pair(p)) {
            n += 8;
            ++p;
        } else {
            n += controlByte(static_cast<unsigned char>(*p)) ? 4 : 1;
        }
    }
    return n;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t HEAD = 14;
    if (size < HEAD)
        return 0;
    PlatformTime when{static_cast<std::uint16_t>(data[0] | data[1] << 8),
                      static_cast<std::uint16_t>(data[2] | data[3] << 8),
                      static_cast<std::uint16_t>(data[4] | data[5] << 8),
                      static_cast<std::uint16_t>(data[6] | data[7] << 8)};
    char sender[16];
    std::snprintf(sender, sizeof sender, "%u.%u.%u.%u", data[9], data[10], data[11], data[12]);
    const char* senderText = (data[8] & 1) ? nullptr : sender;
    const std::size_t smallSize = 1 + data[13] % DEBUG_LINE_SIZE;

    // A datagram holds at most DEBUG_DATAGRAM_SIZE bytes and is read up to
    // its first zero byte.
    const std::size_t textLength =
        size - HEAD < DEBUG_DATAGRAM_SIZE ? size - HEAD : DEBUG_DATAGRAM_SIZE;
    std::vector<char> text(data + HEAD, data + HEAD + textLength);
    text.push_back('\0');

    char prefix[64];
    const int prefixLength =
        senderText ? std::snprintf(prefix, sizeof prefix, "Dbg>%02d %02d:%02d:%02d %s: ", when.day,
                                   when.hour, when.minute, when.second, senderText)
                   : std::snprintf(prefix, sizeof prefix, "Dbg>%02d %02d:%02d:%02d ", when.day,
                                   when.hour, when.minute, when.second);

    char out[DEBUG_LINE_SIZE];
    std::memset(out, 0x7F, sizeof out);
    std::size_t n = formatDebugLine(out, sizeof out, when, senderText, text.data());
    FUZZ_CHECK(n < sizeof out);
    FUZZ_CHECK(out[n] == '\0' && std::strlen(out) == n);
    FUZZ_CHECK(n == static_cast<std::size_t>(prefixLength) + escapedLength(text.data()) + 1);
    FUZZ_CHECK(std::memcmp(out, prefix, static_cast<std::size_t>(prefixLength)) == 0);
    FUZZ_CHECK(out[n - 1] == '\n');
    FUZZ_CHECK(controlFree(out, n));

    // A short buffer: cut, terminated, never overrun (ASan watches the heap copy).
    std::vector<char> small(smallSize);
    n = formatDebugLine(small.data(), small.size(), when, senderText, text.data());
    FUZZ_CHECK(n < small.size());
    FUZZ_CHECK(small[n] == '\0' && std::strlen(small.data()) == n);
    FUZZ_CHECK(controlFree(small.data(), n));
    return 0;
}
