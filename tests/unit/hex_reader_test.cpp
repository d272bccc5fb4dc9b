#include "image/hex_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "diag/console_capture.h"
#include "image/image_buffer.h"
#include "unreadable_input.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

// A record line with a wrong checksum FF, which the reader never checks.
std::string rec(unsigned address, unsigned type, const Bytes& data)
{
    char text[16];
    std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
    std::string line = text;
    for (std::uint8_t b : data) {
        std::snprintf(text, sizeof text, "%02X", b);
        line += text;
    }
    return line + "FF\r\n";
}

struct Region {
    std::uint32_t offset;
    Bytes bytes;
};

struct HexCase {
    const char* what;
    int type;
    std::string text;
    int result;
    const char* message;  // %s stands for the file name
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    std::vector<Region> image = {};  // checked, with zeros elsewhere, when the load succeeds
};

class HexReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir = std::filesystem::temp_directory_path() / ("vn_hex_reader_" + std::to_string(stamp));
        std::filesystem::create_directories(dir);
        path = (dir / "image.hex").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void check(const std::vector<HexCase>& cases)
    {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            std::ofstream(path, std::ios::binary) << c.text;
            std::memset(imageBuffer, 0xEE, IMAGE_BUFFER_SIZE);
            ConsoleCapture::text().clear();
            EXPECT_EQ(readHexFile(path.c_str(), c.type), c.result);
            std::string expected = c.message;
            if (auto at = expected.find("%s"); at != std::string::npos)
                expected.replace(at, 2, path);
            EXPECT_EQ(ConsoleCapture::text(), expected);
            if (c.result == 0)
                continue;
            EXPECT_EQ(nMinHexAddress, c.min);
            EXPECT_EQ(nMaxHexAddress, c.max);
            Bytes want(IMAGE_BUFFER_SIZE, 0);
            for (const auto& r : c.image)
                std::copy(r.bytes.begin(), r.bytes.end(), want.begin() + r.offset);
            auto diff = std::mismatch(want.begin(), want.end(), imageBuffer);
            EXPECT_TRUE(diff.first == want.end()) << "first wrong byte at 0x" << std::hex << (diff.first - want.begin());
        }
    }

    std::filesystem::path dir;
    std::string path;
    ConsoleCapture console;
};

constexpr int M = TYPE_MAIN_HEX;
constexpr int D = TYPE_DSP_HEX;
const char* const FORMAT = "Input file not Intel Hex format:%s";

TEST_F(HexReaderTest, WorkedExamplesInBothModes)
{
    check({
        {"byte mode", M, ":0400100001020304E2\r\n:020000021000EC\r\n:03000000AABBCCCC\r\n:00000001FF\r\n", 1, "",
         0x10, 0x10003, {{0x10, {1, 2, 3, 4}}, {0x10000, {0xAA, 0xBB, 0xCC}}}},
        {"byte mode past 0x20000", M, ":020000022000DC\r\n:01001000559A\r\n", 0,
         "Input file address out of bounds:0x20010"},
        // Nothing past a data field is stored, yet the result is the same.
        {"word mode", D, ":04001000A1B2C3D402\r\n:04001200E5F60718F0\r\n:00000001FF\r\n", 1, "", 0x10, 0x14,
         {{0x20, {0x10, 0, 0x14, 0, 0xB2, 0xA1, 0xD4, 0xC3, 0xF6, 0xE5, 0x18, 0x07}}}},
        {"word mode, four digits per unit", D, ":020010001122334444\r\n", 0, FORMAT},
    });
}

TEST_F(HexReaderTest, RecordTypesSegmentsAndOrder)
{
    check({
        {"word segment 0x0100", D, rec(0, 2, {0x01, 0x00}) + rec(0, 0, {0x12, 0x34}), 1, "", 0x2000, 0x2001,
         {{0x4000, {0x00, 0x20, 0x01, 0x20, 0x34, 0x12}}}},
        {"linear address replaces the segment", M,
         rec(0, 2, {0x00, 0x10}) + rec(0, 4, {0x00, 0x00}) + rec(0x20, 0, {0x77}), 1, "", 0x20, 0x21,
         {{0x20, {0x77}}}},
        {"mark and first type digit ignored", M, "X0100200077FF\r\n:01003010880F\r\n", 1, "", 0x20, 0x31,
         {{0x20, {0x77}}, {0x30, {0x88}}}},
        {"after EOF, out of order, overwritten", M,
         rec(0, 1, {}) + rec(0x40, 0, {1, 2}) + rec(0x20, 0, {3}) + rec(0x41, 0, {0xab}), 1, "", 0x20, 0x42,
         {{0x20, {3}}, {0x40, {1, 0xAB}}}},
        {"blank lines skipped", M, "\r\n" + rec(0x20, 0, {5}) + "   \t\r\n\n", 1, "", 0x20, 0x21, {{0x20, {5}}}},
        {"lower-case digits", M, ":01002a00ff00\r\n", 1, "", 0x2A, 0x2B, {{0x2A, {0xFF}}}},
        {"length 0 moves the bounds", M, rec(0x50, 0, {}), 1, "", 0x50, 0x50},
        {"byte mode, no data", M, rec(0, 1, {}), 1, "", 0x30000, 0},
        // Checksum and line end must not fill the gap between two records.
        {"word mode, gap stays zero", D, rec(0x10, 0, {0x11, 0x22}) + rec(0x14, 0, {0x33, 0x44}), 1, "", 0x10, 0x15,
         {{0x20, {0x10, 0, 0x15, 0, 0x22, 0x11, 0, 0, 0, 0, 0, 0, 0x44, 0x33}}}},
        {"word mode, odd length", D, rec(0x10, 0, {0x55}), 1, "", 0x10, 0x10, {{0x20, {0x10, 0, 0x10, 0}}}},
        {"word mode, no data", D, rec(0, 1, {}), 0, "No data records in: %s"},
    });
}

TEST_F(HexReaderTest, LengthAndAddressLimits)
{
    const Bytes full(32, 0x5A);
    const std::string seg2000 = rec(0, 2, {0x20, 0x00});
    // Word segment 0x0BFF is word 0x17FE0: past the word image's 16-bit bounds.
    const std::string wordTop = rec(0, 2, {0x0B, 0xFF});
    const char* const WORDS = "DSP word address beyond 0xFFFF: %s";
    check({
        {"length 32", M, rec(0, 0, full), 1, "", 0, 32, {{0, full}}},
        {"length 33", M, rec(0, 0, Bytes(33, 1)), 0, FORMAT},
        {"length 33 on an EOF line", M, ":21000001FF\r\n", 0, FORMAT},
        {"main at 0x20000", M, seg2000 + rec(0, 0, full), 1, "", 0x20000, 0x20020, {{0x20000, full}}},
        {"word bound 0xFFFF", D, rec(0xFFFE, 0, {1, 2}), 1, "", 0xFFFE, 0xFFFF,
         {{0x1FFFC, {0xFE, 0xFF, 0xFF, 0xFF, 2, 1}}}},
        {"word bound 0x10000", D, rec(0xFFFE, 0, {1, 2, 3, 4}), 0, WORDS},
        {"word segment 0x0BFF", D, wordTop + rec(0x1C, 0, {1, 2, 3, 4}), 0, WORDS},
        {"word segment 0x0BFF, higher", D, wordTop + rec(0x1E, 0, {1, 2, 3, 4}), 0, WORDS},
        {"word bytes past the buffer", D, rec(0, 2, {0x0C, 0x00}) + rec(0, 0, {1, 2}), 0, WORDS},
    });
    check({{"main at 0x20001", M, seg2000 + rec(1, 0, {1}), 0, "Input file address out of bounds:0x20001"}});
    EXPECT_EQ(nMinHexAddress, 0x20001u) << "the bounds include the failing record";
    EXPECT_EQ(nMaxHexAddress, 0x20002u);
}

TEST_F(HexReaderTest, SkippedRecordsMayHoldUpTo255BytesWhenWhole)
{
    const std::string end = rec(0, 1, {});
    const std::string symbols = end + rec(0, 0xFE, Bytes(37, 0x11)) + rec(0, 0xFE, Bytes(255, 0x22));
    const std::string start40 = rec(0, 3, Bytes(40, 0x33));
    std::string shortFe = rec(0, 0xFE, Bytes(37, 0x11));
    shortFe.erase(shortFe.size() - 4, 2);  // one pair short of its length
    check({
        {"byte mode", M, rec(0x10, 0, {1, 2}) + start40 + rec(0x12, 0, {3}) + symbols, 1, "", 0x10, 0x13,
         {{0x10, {1, 2, 3}}}},
        {"word mode", D, rec(0x10, 0, {0x11, 0x22}) + start40 + rec(0x11, 0, {0x33, 0x44}) + symbols, 1, "",
         0x10, 0x12, {{0x20, {0x10, 0, 0x12, 0, 0x22, 0x11, 0x44, 0x33}}}},
        {"FE record one pair short", M, rec(0x10, 0, {1}) + end + shortFe, 0, FORMAT},
        {"linear address record of 33", M, rec(0, 4, Bytes(33, 0)), 0, FORMAT},
    });
}

TEST_F(HexReaderTest, MalformedLinesFailInsteadOfReusingEarlierFields)
{
    const std::string good = rec(0x20, 0, {1, 2, 3, 4});
    const std::string longLine = ":0100200077FF" + std::string(250, ' ');
    check({
        {"length not hex", M, good + ":ZZ00200001\r\n", 0, FORMAT},
        {"address not hex", M, good + ":01ZZZZ0001\r\n", 0, FORMAT},
        {"line ends in the address", M, good + ":01\r\n", 0, FORMAT},
        {"data field cut short", M, good + ":0400300001\r\n", 0, FORMAT},
        {"data pair not hex", M, good + ":020030001G00\r\n", 0, FORMAT},
        {"segment field empty", D, good + ":00000002\r\n", 0, FORMAT},
        {"over-long line, record follows", M, longLine + "\r\n" + rec(0x30, 0, {0x55}), 1, "", 0x20, 0x31,
         {{0x20, {0x77}}, {0x30, {0x55}}}},
        {"over-long line, garbage continues", M, longLine + "XYZ\r\n", 0, FORMAT},
        {"over-long line, record continues", M, longLine + rec(0x30, 0, {0x55}), 0, FORMAT},
        {"over-long line, blanks continue", M, longLine + "    \r\n", 1, "", 0x20, 0x21, {{0x20, {0x77}}}},
        {"two files joined", M, ":00000001FF:020000040001F9\r\n" + rec(0x10, 0, {1}), 0, FORMAT},
        {"CR-only line ends", M, ":0100200077FF\r:0100300088FF\r", 0, FORMAT},
        {"cut in its checksum", M, good + ":0100300088F\r\n", 0, FORMAT},
        {"segment of one byte", M, ":0100000210FF\r\n", 0, FORMAT},
        {"linear address of four bytes", M, ":0400000400010000FF\r\n", 0, FORMAT},
        {"blanks and end marks after the record", M, ":0100200077ff \t\x1a\r\n", 1, "", 0x20, 0x21, {{0x20, {0x77}}}},
    });
}

TEST_F(HexReaderTest, LinearAddressesEndMarksAndShortLines)
{
    const std::string linear1 = rec(0, 4, {0x00, 0x01});
    check({
        {"linear base in bytes", M, linear1 + rec(0x10, 0, {0xAB}), 1, "", 0x10010, 0x10011,
         {{0x10010, {0xAB}}}},
        {"linear base in words", D, linear1 + rec(0, 0, {0x12, 0x34}), 0, "DSP word address beyond 0xFFFF: %s"},
        {"a later segment replaces it", M, linear1 + rec(0, 2, {0x00, 0x10}) + rec(0x20, 0, {5}), 1, "",
         0x120, 0x121, {{0x120, {5}}}},
        {"linear base past the main limit", M, rec(0, 4, {0x00, 0x03}) + rec(0, 0, {1}), 0,
         "Input file address out of bounds:0x30000"},
        {"linear base past the buffer in words", D, rec(0, 4, {0x80, 0x00}) + rec(0, 0, {1}), 0,
         "DSP word address beyond 0xFFFF: %s"},
        {"record ending past 32 bits", D, rec(0, 0, {1, 2}) + rec(0, 4, {0xFF, 0xFF}) + rec(0xFFF0, 0, Bytes(32, 1)), 0,
         "Input file address out of bounds:0x1ffffffe0"},
        {"linear field empty", M, ":00000004\r\n", 0, FORMAT},
        {"DOS end-of-file marks", M, rec(0x20, 0, {5}) + "\x1a\x1a \r\n\x1a", 1, "", 0x20, 0x21, {{0x20, {5}}}},
        {"record cut in its first fields", M, rec(0x20, 0, {5}) + ":0100300\r\n", 0, FORMAT},
        {"eight characters at the file end", M, rec(0x20, 0, {5}) + ":0000000", 0, FORMAT},
    });
}

TEST_F(HexReaderTest, UnreadableInputsFail)
{
    EXPECT_EQ(readHexFile(dir.string().c_str(), M), 0);
    EXPECT_EQ(ConsoleCapture::text(), "Could not open: " + dir.string());
    const std::string failing = failingReadPath();
    if (failing.empty())
        GTEST_SKIP() << "no file whose read fails here";
    ConsoleCapture::text().clear();
    EXPECT_EQ(readHexFile(failing.c_str(), M), 0);
    EXPECT_EQ(ConsoleCapture::text(), "Could not read: " + failing);
}

TEST_F(HexReaderTest, MissingFileResetsTheBounds)
{
    path = (dir / "absent.hex").string();
    nMinHexAddress = nMaxHexAddress = 7;
    EXPECT_EQ(readHexFile(path.c_str(), M), 0);
    EXPECT_EQ(ConsoleCapture::text(), "Could not open: " + path);
    EXPECT_EQ(nMinHexAddress, 0x30000u);
    EXPECT_EQ(nMaxHexAddress, 0u);
}
}  // namespace
