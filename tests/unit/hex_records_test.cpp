#include "image/hex_records.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {
struct Seen {
    unsigned line;
    bool complete;
    int type;
    std::uint32_t dataBytes;
    bool checksumPresent;
    bool checksumRight;
};

bool operator==(const Seen& a, const Seen& b)
{
    return a.line == b.line && a.complete == b.complete && a.type == b.type &&
           a.dataBytes == b.dataBytes && a.checksumPresent == b.checksumPresent &&
           a.checksumRight == b.checksumRight;
}

TEST(HexRecords, FieldsChecksumsAndLineNumbers)
{
    const std::string path = (std::filesystem::temp_directory_path() / "vn_hex_records.hex").string();
    std::ofstream(path, std::ios::binary) << ":0400100001020304E2\r\n"  // right
                                             "\r\n\x1a\n"               // blank lines
                                             ":0400100001020304E3\r\n"  // wrong checksum
                                             ":0400100001020304\r\n"    // no checksum
                                             ":04001000010203\r\n"      // data cut short
                                             ":00000001FF\n"            // end of file
                                             ":0000\n";                 // cut in its fields
    std::vector<Seen> seen;
    auto take = [&](const HexRecord& r) {
        seen.push_back({r.lineNumber, r.complete, r.type, r.dataBytes, r.checksumPresent, r.checksumRight});
        return true;
    };
    ASSERT_EQ(scanHexFile(path.c_str(), take), HEX_SCAN_DONE);
    const std::vector<Seen> expected = {
        {1, true, 0, 4, true, true},    {4, true, 0, 4, true, false}, {5, true, 0, 4, false, false},
        {6, true, 0, 3, false, false},  {7, true, 1, 0, true, true},  {8, false, -1, 0, false, false},
    };
    EXPECT_EQ(seen, expected);
    std::filesystem::remove(path);
}
}  // namespace
