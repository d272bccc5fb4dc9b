#include "link/packets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {
using Bytes = std::vector<std::uint8_t>;

Bytes slice(const std::uint8_t* data, int from, int to)
{
    return Bytes(data + from, data + to);
}

TEST(PacketsTest, CodeUpdateHeaderByteForByte)
{
    struct Case {
        const char* password;
        Bytes expected;  // bytes 0..22
    };
    const Case cases[] = {
        // 16 characters: no terminator, fixedWord follows at once.
        {"ABCDEFGHIJKLMNOP",
         {0x05, 0x04, 0x81, 0x23, 0x06, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K',
          'L', 'M', 'N', 'O', 'P', 0x10, 0x00}},
        // 20 characters: only the first 16 travel.
        {"abcdefghijklmnopQRST",
         {0x05, 0x04, 0x81, 0x23, 0x06, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k',
          'l', 'm', 'n', 'o', 'p', 0x10, 0x00}},
        {"pw1",
         {0x05, 0x04, 0x81, 0x23, 0x06, 'p', 'w', '1', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
          0x10, 0x00}},
        {"", {0x05, 0x04, 0x81, 0x23, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10,
              0x00}},
    };
    for (const Case& c : cases) {
        std::uint8_t packet[PACKET_BUFFER_SIZE];
        std::fill(packet, packet + sizeof packet, 0xEE);  // stale bytes must not leak
        startCodeUpdatePacket(packet, 0x81, 1571, c.password);
        std::uint8_t image[4] = {};
        fillCodeUpdatePacket(packet, 4, 0, image, sizeof image, 0);
        EXPECT_EQ(slice(packet, 0, 23), c.expected) << c.password;
    }
}

TEST(PacketsTest, PayloadLengthIgnoresPageCount)
{
    std::vector<std::uint8_t> image(4096);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    std::uint8_t packet[PACKET_BUFFER_SIZE] = {};
    startCodeUpdatePacket(packet, 0, 0, "x");

    EXPECT_EQ(fillCodeUpdatePacket(packet, 1, 0, image.data(), 4096, 100), 1047);
    EXPECT_EQ(packet[1], 1);
    EXPECT_EQ(slice(packet, 23, 1047), Bytes(image.begin() + 100, image.begin() + 1124));

    EXPECT_EQ(fillCodeUpdatePacket(packet, 1, 8, image.data(), 4096, 0), 1055);
    EXPECT_EQ(slice(packet, 23, 1055), Bytes(image.begin(), image.begin() + 1032));
}

TEST(PacketsTest, PayloadPastTheImageEndReadsAsZero)
{
    std::vector<std::uint8_t> image(300, 0xAA);
    std::uint8_t packet[PACKET_BUFFER_SIZE];
    std::fill(packet, packet + sizeof packet, 0xEE);
    fillCodeUpdatePacket(packet, 4, 0, image.data(), 300, 200);
    Bytes expected(1024, 0);
    std::fill(expected.begin(), expected.begin() + 100, 0xAA);
    EXPECT_EQ(slice(packet, 23, 1047), expected);

    // Wholly outside, even far beyond 32 bits of offset arithmetic.
    fillCodeUpdatePacket(packet, 4, 0, image.data(), 300, 0x1'0000'0000ull);
    EXPECT_EQ(slice(packet, 23, 1047), Bytes(1024, 0));
}

TEST(PacketsTest, FinishPacketForLogoKeepsPassword)
{
    std::uint8_t packet[PACKET_BUFFER_SIZE] = {};
    startCodeUpdatePacket(packet, 0x00, 1567, "secret");
    std::vector<std::uint8_t> image(2048, 0x55);
    fillCodeUpdatePacket(packet, 4, 0, image.data(), 2048, 0);

    EXPECT_EQ(makeFinishPacket(packet, FINISH_LOGO, 0x01, 1555, 1571, 0xBEEF), 29);
    const Bytes expected = {0x06, 0x0B, 0x01, 0x00, 0x00, 's', 'e', 'c', 'r', 'e', 't', 0, 0, 0, 0,
                            0, 0, 0, 0, 0, 0, 0x10, 0x00, 0x13, 0x06, 0x23, 0x06, 0xEF, 0xBE};
    EXPECT_EQ(slice(packet, 0, 29), expected);
}

TEST(PacketsTest, ReplyFieldsIgnoreOtherBytes)
{
    std::uint8_t reply[23];
    std::fill(reply, reply + sizeof reply, 0xFF);
    reply[0] = TFTP_NACK;
    reply[1] = NACK_BAD_CRC;
    reply[3] = 0x23;
    reply[4] = 0x06;
    ReplyFields fields = readReply(reply);
    EXPECT_EQ(fields.replyCode, TFTP_NACK);
    EXPECT_EQ(fields.nackReason, NACK_BAD_CRC);
    EXPECT_EQ(fields.replyPage, 1571);
}
}  // namespace
