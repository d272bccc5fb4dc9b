#include "image/crc16.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {
std::uint16_t crcOf(const std::vector<std::uint8_t>& bytes)
{
    return updateCrc16(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

std::uint16_t crcOfText(const char* text)
{
    return updateCrc16(reinterpret_cast<const std::uint8_t*>(text),
                       static_cast<std::uint32_t>(std::strlen(text)));
}
}  // namespace

TEST(UpdateCrc16, KnownValues)
{
    EXPECT_EQ(updateCrc16(nullptr, 0), 0x0000);
    EXPECT_EQ(crcOfText("abc"), 0x4CF1);
    EXPECT_EQ(crcOfText("a"), 0x42FE);
    // 0x906E here would mean the reflected constant 0x8408 was used.
    EXPECT_EQ(crcOfText("123456789"), 0x45E2);
    EXPECT_EQ(crcOf({0xFF}), 0x00FF);
    EXPECT_EQ(crcOf({0x00}), 0x84ED);
    EXPECT_EQ(crcOf(std::vector<std::uint8_t>(256, 0x00)), 0x67E5);
    EXPECT_EQ(crcOf(std::vector<std::uint8_t>(256, 0xFF)), 0xBBE1);
}

TEST(UpdateCrc16, StoredLowByteFirstGivesHighByteOfRegisterFirst)
{
    std::uint16_t crc = crcOfText("abc");
    EXPECT_EQ(crc & 0xFF, 0xF1);
    EXPECT_EQ(crc >> 8, 0x4C);
}

TEST(UpdateCrc16, DependsOnlyOnBytesNotAddress)
{
    std::vector<std::uint8_t> buffer(64, 0);
    const char text[] = "firmware";
    std::memcpy(buffer.data() + 1, text, 8);
    std::memcpy(buffer.data() + 40, text, 8);
    EXPECT_EQ(updateCrc16(buffer.data() + 1, 8), updateCrc16(buffer.data() + 40, 8));
}
