#include "app/loaders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "console_capture.h"
#include "image/crc16.h"
#include "image/image_buffer.h"
#include "unreadable_input.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
}

std::uint16_t crcOf(const Bytes& bytes, std::size_t length)
{
    return updateCrc16(bytes.data(), static_cast<std::uint32_t>(length));
}

Bytes package(std::uint8_t type, std::uint32_t minAddress, std::uint16_t crc, const Bytes& body)
{
    Bytes bytes{PACKAGE_MAGIC, type};
    for (std::uint32_t v : {minAddress, 999u})  // the header's max bound never survives
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    bytes.push_back(static_cast<std::uint8_t>(crc));
    bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

class UpdateFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetSettings();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir = std::filesystem::temp_directory_path() / ("vn_update_file_" + std::to_string(stamp));
        std::filesystem::create_directories(dir);
        path = (dir / "input.bin").string();
    }
    void TearDown() override
    {
        std::filesystem::remove_all(dir);
        resetSettings();
    }

    // Loads bytes as a file over a dirty buffer, so every load must zero-fill it.
    std::uint32_t load(const Bytes& bytes)
    {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        std::memset(imageBuffer, 0xEE, IMAGE_BUFFER_SIZE);
        ConsoleCapture::text().clear();
        return readUpdateFile(path.c_str());
    }
    std::string message(std::string text) const
    {
        return text.empty() ? text : text.replace(text.find("%s"), 2, path);
    }
    // The buffer holds bytes from offset and nothing but zeros after them.
    bool bufferIs(const Bytes& bytes, std::size_t offset = 0) const
    {
        return std::equal(bytes.begin(), bytes.end(), imageBuffer + offset) &&
               std::all_of(imageBuffer + offset + bytes.size(), imageBuffer + IMAGE_BUFFER_SIZE,
                           [](std::uint8_t b) { return b == 0; });
    }

    std::filesystem::path dir;
    std::string path;
    ConsoleCapture console;
};

struct FaultCase {
    const char* what;
    Bytes bytes;
    const char* message;
};

TEST_F(UpdateFileTest, HeaderCutAndCrcFaults)
{
    const char* const badType = "Bad File Type, This is not an ORLIX microcode update file: %s";
    const char* const badCrc = "Bad crc from: %s, this file appears corrupted";
    const Bytes header = package(2, 0, 0, {});
    const Bytes body = pattern(264);
    const std::vector<FaultCase> cases = {
        {"empty file", {}, "Could not read Magic Number from: %s"},
        {"lower-case magic", {0x61, 2}, "Wrong Magic Number, This is not an ORLIX microcode update file: %s"},
        {"no type", {0x41}, "Could not read File Type from: %s"},
        {"type 0", {0x41, 0}, badType},
        {"type 8", {0x41, 8}, badType},
        {"type 0xFF", {0x41, 0xFF}, badType},
        {"type 0x80", {0x41, 0x80}, badType},
        {"no min", Bytes(header.begin(), header.begin() + 2), "Could not read nMinHexAddress from: %s"},
        {"no max", Bytes(header.begin(), header.begin() + 6), "Could not read nMaxHexAddress from: %s"},
        {"max cut", Bytes(header.begin(), header.begin() + 8), "Could not read crc from: %s"},
        {"no crc", Bytes(header.begin(), header.begin() + 10), "Could not read crc from: %s"},
        {"12 bytes, crc 0", header, "Empty update package: %s"},
        {"12 bytes, crc set", package(2, 0, 0x1234, {}), badCrc},
        {"11 bytes, zero crc byte", Bytes(header.begin(), header.begin() + 11), "Empty update package: %s"},
        {"11 bytes, crc byte set", {0x41, 2, 0, 0, 0, 0, 0, 0, 0, 0, 5}, badCrc},
        {"wrong crc", package(2, 0, static_cast<std::uint16_t>(crcOf(body, 264) ^ 1), body), badCrc},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(load(c.bytes), 0u);
        EXPECT_EQ(ConsoleCapture::text(), message(c.message));
        EXPECT_TRUE(bufferIs(c.bytes.size() > 12 ? body : Bytes{})) << "zero unless the crc failed";
    }
    EXPECT_EQ(nMaxHexAddress, 999u) << "a crc mismatch keeps the header's bound";
    load({0x41, 0x80});
    EXPECT_EQ(settings.fileType, 0x80) << "a rejected type byte is still stored";
    nMinHexAddress = 0x55555555;
    load({0x41, 2, 0x34});
    EXPECT_EQ(nMinHexAddress, 0x34u) << "a cut field keeps its zeroed high bytes";
}

TEST_F(UpdateFileTest, PackageBodyLoadsAsStoredUpToTheBufferSize)
{
    const Bytes body = pattern(520);
    for (std::uint8_t type : {1, 2, 7}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(load(package(type, 0x100, crcOf(body, body.size()), body)), 520u);
        EXPECT_EQ(settings.fileType, type);
        EXPECT_EQ(nMinHexAddress, 0x100u) << "kept; the body still goes to offset 0";
        EXPECT_EQ(nMaxHexAddress, 520u);
        EXPECT_TRUE(bufferIs(body));
        EXPECT_EQ(ConsoleCapture::text(), "");
    }
    const Bytes big = pattern(IMAGE_BUFFER_SIZE + 8);
    const Bytes cut(big.begin(), big.begin() + IMAGE_BUFFER_SIZE);
    ASSERT_NE(crcOf(big, big.size()), crcOf(cut, cut.size()));
    EXPECT_EQ(load(package(3, 0, crcOf(big, big.size()), big)), 0u);
    EXPECT_EQ(ConsoleCapture::text(), message("Bad crc from: %s, this file appears corrupted"));
    EXPECT_EQ(load(package(3, 0, crcOf(cut, cut.size()), big)), IMAGE_BUFFER_SIZE);
    EXPECT_TRUE(bufferIs(cut));
}

struct RawCase {
    std::uint8_t type;
    std::size_t size;
    std::uint32_t result;
    const char* message;
};

TEST_F(UpdateFileTest, RawFilesLoadBehindTheirLengthPrefix)
{
    settings.packagedInput = 0;
    const std::vector<RawCase> cases = {
        {TYPE_JAVA, 1000, 1002, ""},
        {TYPE_JAVA, 70000, 70002, ""},
        {TYPE_LOGO, 0, 2, ""},
        {TYPE_LOGO, IMAGE_BUFFER_SIZE - 2, IMAGE_BUFFER_SIZE, ""},
        {TYPE_JAVA, IMAGE_BUFFER_SIZE - 1, 0, "File too large for the image buffer: %s"},
        {TYPE_HTML, 1000, 1000, ""},
        {TYPE_HTML, 0, 0, "Empty file: %s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.size));
        settings.fileType = c.type;
        Bytes content = pattern(c.size);
        EXPECT_EQ(load(content), c.result);
        EXPECT_EQ(ConsoleCapture::text(), message(c.message));
        EXPECT_EQ(settings.fileType, c.type);
        if (c.type != TYPE_HTML)
            content.insert(content.begin(), {static_cast<std::uint8_t>(c.size), static_cast<std::uint8_t>(c.size >> 8)});
        EXPECT_TRUE(bufferIs(c.result ? content : Bytes{}));
        if (c.result) {
            EXPECT_EQ(nMinHexAddress, 0u);
            EXPECT_EQ(nMaxHexAddress, c.result);
        }
    }
    settings.fileType = TYPE_HTML;
    const Bytes file = package(2, 0, 0, pattern(264));
    EXPECT_EQ(load(file), file.size());
    EXPECT_TRUE(bufferIs(file)) << "a package read raw is all content";
    EXPECT_EQ(settings.fileType, TYPE_HTML);

    path = (dir / "absent.enc").string();
    EXPECT_EQ(readUpdateFile(path.c_str()), 0u);
    EXPECT_EQ(ConsoleCapture::text(), message("Could not open: %s"));
}
TEST_F(UpdateFileTest, UnreadableInputsFailInBothModes)
{
    const std::string failing = failingReadPath();
    for (std::uint32_t packaged : {1u, 0u}) {
        SCOPED_TRACE(packaged);
        settings.packagedInput = packaged;
        settings.fileType = TYPE_JAVA;
        ConsoleCapture::text().clear();
        EXPECT_EQ(readUpdateFile(dir.string().c_str()), 0u);
        EXPECT_EQ(ConsoleCapture::text(), "Could not open: " + dir.string());
        if (failing.empty())
            continue;
        ConsoleCapture::text().clear();
        EXPECT_EQ(readUpdateFile(failing.c_str()), 0u);
        EXPECT_EQ(ConsoleCapture::text(), "Could not read: " + failing);
        EXPECT_TRUE(bufferIs({}));
    }
}
}  // namespace
