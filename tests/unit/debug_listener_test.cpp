#include "link/debug_listener.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string line(const char* sender, const std::string& text)
{
    char out[DEBUG_LINE_SIZE];
    PlatformTime when{7, 9, 5, 3};
    std::size_t n = formatDebugLine(out, sizeof out, when, sender, text.c_str());
    return std::string(out, n);
}
}  // namespace

TEST(DebugLine, Layout)
{
    EXPECT_EQ(line("192.0.2.20", "boot ok"), "Dbg>07 09:05:03 192.0.2.20: boot ok\n");
    EXPECT_EQ(line("192.0.2.20", ""), "Dbg>07 09:05:03 192.0.2.20: \n");
    EXPECT_EQ(line(nullptr, "no address"), "Dbg>07 09:05:03 no address\n");
    EXPECT_EQ(line("10.0.0.1", "ends\n"), "Dbg>07 09:05:03 10.0.0.1: ends\n\n");
    EXPECT_EQ(line("10.0.0.1", "100% %s %d"), "Dbg>07 09:05:03 10.0.0.1: 100% %s %d\n");
}

TEST(DebugLine, ControlBytesAreEscaped)
{
    EXPECT_EQ(line("1.2.3.4", "\x1b[2Jred\x07"), "Dbg>07 09:05:03 1.2.3.4: \\x1b[2Jred\\x07\n");
    EXPECT_EQ(line("1.2.3.4", "tab\there\r\n"), "Dbg>07 09:05:03 1.2.3.4: tab\there\r\n\n");
    EXPECT_EQ(line("1.2.3.4", "\x7f\x01\x1f \xc3\xa9"), "Dbg>07 09:05:03 1.2.3.4: \\x7f\\x01\\x1f \xc3\xa9\n");
}

TEST(DebugLine, Utf8C1ControlsAreEscaped)
{
    const struct { const char* text; const char* shown; } cases[] = {
        {"\xc2\x9b" "2J", "\\xc2\\x9b" "2J"},           // CSI
        {"a\xc2\x80\xc2\x9f", "a\\xc2\\x80\\xc2\\x9f"},  // both ends of the range
        {"\xc2\xa0\xc2\x7f", "\xc2\xa0\xc2\\x7f"},      // outside it: NBSP, then C2 before DEL
        {"\xc2\xc2\x85", "\xc2\\xc2\\x85"},             // a lone C2, then NEL
        {"\x9b\xe2\x82\xac\xc2", "\x9b\xe2\x82\xac\xc2"},  // bare C1 byte, euro sign, C2 at the end
    };
    for (const auto& c : cases)
        EXPECT_EQ(line("1.2.3.4", c.text), std::string("Dbg>07 09:05:03 1.2.3.4: ") + c.shown + "\n")
            << c.shown;
}

TEST(DebugLine, WorstCaseDatagramFitsWhole)
{
    std::string text(DEBUG_DATAGRAM_SIZE, '\x01');
    std::string expected = "Dbg>07 09:05:03 255.255.255.255: ";
    for (int i = 0; i < DEBUG_DATAGRAM_SIZE; ++i)
        expected += "\\x01";
    EXPECT_EQ(line("255.255.255.255", text), expected + "\n");
}
