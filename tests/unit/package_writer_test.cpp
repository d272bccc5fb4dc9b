#include "app/package_mode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/settings.h"
#include "diag/console_capture.h"
#include "image/crc16.h"
#include "image/image_buffer.h"
#include "package/des.h"
#include "package/package_output.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

void writeFile(const std::string& name, const Bytes& data)
{
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void writeText(const std::string& name, const std::string& text)
{
    std::ofstream out(name, std::ios::binary);
    out << text;
}

Bytes readFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes pattern(std::size_t length, unsigned seed = 1)
{
    Bytes b(length);
    std::uint32_t x = seed * 2654435761u + 12345;
    for (auto& v : b) {
        x = x * 1103515245u + 12345;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

std::uint32_t u32At(const Bytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

std::uint16_t u16At(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// The plain body a package should carry for a source image.
Bytes expectedBody(const Bytes& source)
{
    std::size_t pages = source.empty() ? 1 : (source.size() + 255) / 256;
    Bytes body(8 + 256 * pages, 0);
    std::copy(source.begin(), source.end(), body.begin() + 8);
    body[0] = static_cast<std::uint8_t>(source.size());
    body[1] = static_cast<std::uint8_t>(source.size() >> 8);
    std::uint16_t crc = updateCrc16(body.data() + 8, static_cast<std::uint32_t>(body.size() - 8));
    body[2] = static_cast<std::uint8_t>(crc);
    body[3] = static_cast<std::uint8_t>(crc >> 8);
    for (std::size_t i = 4; i < 8 && i < source.size(); ++i)
        body[i] = source[i];
    return body;
}

std::string keyText(const char* key)
{
    std::string k(key);
    k.resize(8, '\0');
    return k;
}

// Deciphers the first part of a package body as the device would.
using Decipher = Bytes (*)(const Bytes& enciphered, const char* key);

Bytes ownDecipher(const Bytes& enciphered, const char* key)
{
    std::string k = keyText(key);
    Bytes body = enciphered;
    std::uint8_t prev[8];
    std::memcpy(prev, cbcInitVector, 8);
    for (std::size_t at = 0; at < body.size(); at += 8) {
        std::uint8_t cipher[8];
        std::memcpy(cipher, &body[at], 8);
        desBlock(&body[at], &body[at], reinterpret_cast<const std::uint8_t*>(k.data()), 0);
        xorBlock(&body[at], prev);
        std::memcpy(prev, cipher, 8);
    }
    return body;
}

// Packages and temporaries in the working directory.
int packageFiles()
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator(".")) {
        std::string ext = entry.path().extension().string();
        count += ext == ".enc" || ext == PACKAGE_TEMP_SUFFIX;
    }
    return count;
}

struct Package {
    int result;
    std::string output;
    Bytes file;
};

PackageWriteFn realWrite;
int writesBeforeFailure;

std::size_t failingWrite(const void* data, std::size_t size, std::size_t count, std::FILE* file)
{
    if (writesBeforeFailure-- <= 0)
        return count / 2;
    return realWrite(data, size, count, file);
}

class PackageWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetSettings();
        settings.packagedInput = 0;
        realWrite = packageWrite;
        home = fs::current_path();
        dir = fs::temp_directory_path() /
              ("vn_package_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::current_path(dir);
    }

    void TearDown() override
    {
        packageWrite = realWrite;
        fs::current_path(home);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
        resetSettings();
    }

    static Package run(std::uint8_t type, const char* input, const char* output,
                       const char* key = "secret", bool partial = true)
    {
        settings.fileType = type;
        std::snprintf(settings.fileName, sizeof settings.fileName, "%s", input);
        // As the command line stores it: the rest of the field zero.
        std::memset(settings.encryptKey, 0, sizeof settings.encryptKey);
        std::strncpy(settings.encryptKey, key, KEY_FIELD_SIZE);
        settings.partialEncrypt = partial ? 1 : 0;
        ConsoleCapture capture;
        Package p;
        p.result = encryptFile();
        p.output = ConsoleCapture::text();
        if (fs::is_regular_file(output))
            p.file = readFile(output);
        return p;
    }

    static Package raw(std::uint8_t type, const Bytes& content, const char* output,
                       const char* key = "secret", bool partial = true)
    {
        writeFile("input.bin", content);
        return run(type, "input.bin", output, key, partial);
    }

    fs::path home;
    fs::path dir;
};

// Checks a package field by field against the source image it was made from.
void expectPackage(const Package& p, std::uint8_t type, std::uint32_t minBound,
                   std::uint32_t maxBound, const Bytes& source, bool partial,
                   const char* key = "secret", Decipher decipher = ownDecipher)
{
    EXPECT_EQ(p.result, 1);
    Bytes plain = expectedBody(source);
    ASSERT_EQ(p.file.size(), 12 + plain.size());
    EXPECT_EQ(p.file[0], 'A');
    EXPECT_EQ(p.file[1], type);
    EXPECT_EQ(u32At(p.file, 2), minBound);
    EXPECT_EQ(u32At(p.file, 6), maxBound);
    Bytes stored(p.file.begin() + 12, p.file.end());
    EXPECT_EQ(u16At(p.file, 10), updateCrc16(stored.data(), static_cast<std::uint32_t>(stored.size())));

    auto encrypted = static_cast<std::ptrdiff_t>(partial ? std::min<std::size_t>(plain.size(), 1032) : plain.size());
    Bytes body = decipher(Bytes(stored.begin(), stored.begin() + encrypted), key);
    ASSERT_EQ(body.size(), static_cast<std::size_t>(encrypted));
    body.insert(body.end(), stored.begin() + encrypted, stored.end());
    EXPECT_EQ(u16At(body, 0), u16At(plain, 0)) << "source length";
    EXPECT_EQ(u16At(body, 2), u16At(plain, 2)) << "padded image CRC";
    EXPECT_TRUE(std::equal(body.begin() + 4, body.begin() + 8, plain.begin() + 4)) << "copied bytes";
    EXPECT_TRUE(body == plain) << "padded image";
    // Every enciphered block differs from its plain text, the rest is plain.
    for (std::ptrdiff_t at = 0; at < static_cast<std::ptrdiff_t>(plain.size()); at += 8) {
        bool same = std::equal(stored.begin() + at, stored.begin() + at + 8, plain.begin() + at);
        EXPECT_EQ(same, at >= encrypted) << "block at " << at;
    }
}

struct Kind {
    std::uint8_t type;
    const char* output;
    const char* message;
};
constexpr Kind kinds[] = {
    {TYPE_MAIN_HEX, "main.enc", "Reading in the Main CPU HEX file to encrypt\n"},
    {TYPE_DSP_HEX, "dsp.enc", "Reading in the DSP HEX file to encrypt\n"},
    {TYPE_LOGO, "logo.enc", "Reading in the Logo file to encrypt\n"},
    {TYPE_JAVA, "java.enc", "Reading in the Java file to encrypt\n"},
    {TYPE_HTML, "html.enc", "Reading in the html file to encrypt\n"},
};
const Kind& kindOf(std::uint8_t type)
{
    return kinds[type - TYPE_MAIN_HEX];
}

// Raw input as the reader leaves it: a length prefix except for html.
Bytes rawSource(std::uint8_t type, const Bytes& content)
{
    if (type == TYPE_HTML)
        return content;
    Bytes source = {static_cast<std::uint8_t>(content.size()), static_cast<std::uint8_t>(content.size() >> 8)};
    source.insert(source.end(), content.begin(), content.end());
    return source;
}

TEST_F(PackageWriterTest, RawInputsArePaddedToPagesAndEnciphered)
{
    struct Case {
        std::uint8_t type;
        std::size_t length;
        bool partial;
        std::size_t body;
    } cases[] = {
        {TYPE_JAVA, 1000, true, 1032},  {TYPE_JAVA, 1000, false, 1032}, {TYPE_HTML, 100, true, 264},
        {TYPE_JAVA, 0, true, 264},      {TYPE_LOGO, 0, true, 264},      {TYPE_HTML, 1, true, 264},
        {TYPE_HTML, 256, true, 264},    {TYPE_HTML, 257, true, 520},    {TYPE_HTML, 1024, true, 1032},
        {TYPE_HTML, 1025, true, 1288},  {TYPE_HTML, 1025, false, 1288}, {TYPE_LOGO, 3000, true, 3080},
        {TYPE_HTML, 400 * 256, false, 400 * 256 + 8},
    };
    for (const Case& c : cases) {
        const Kind& kind = kindOf(c.type);
        SCOPED_TRACE(std::string(kind.output) + " " + std::to_string(c.length) + (c.partial ? " partial" : " whole"));
        Bytes content = pattern(c.length, static_cast<unsigned>(c.length));
        Bytes source = rawSource(c.type, content);
        Package p = raw(c.type, content, kind.output, "k3y", c.partial);
        EXPECT_EQ(p.output, kind.message);
        EXPECT_EQ(p.file.size(), 12 + c.body);
        expectPackage(p, c.type, 0, static_cast<std::uint32_t>(source.size()), source, c.partial, "k3y");
    }
}

TEST_F(PackageWriterTest, DspWordImage)
{
    // 100 words 0x0000..0x0063 (+0x1100), 16 per record, each written high byte first.
    std::string text;
    for (unsigned addr = 0; addr < 100; addr += 16) {
        unsigned words = addr + 16 <= 100 ? 16 : 100 - addr;
        char line[128];
        int n = std::snprintf(line, sizeof line, ":%02X%04X00", words * 2, addr);
        unsigned sum = words * 2 + (addr >> 8) + (addr & 0xFF);
        for (unsigned w = 0; w < words; ++w) {
            unsigned value = 0x1100 + addr + w;
            n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%04X", value);
            sum += (value >> 8) + (value & 0xFF);
        }
        std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    }
    text += ":00000001FF\r\n";
    writeText("dsp.hex", text);

    Bytes source = {0x00, 0x00, 0x64, 0x00};
    for (unsigned w = 0; w < 100; ++w) {
        unsigned value = 0x1100 + w;
        source.push_back(static_cast<std::uint8_t>(value));
        source.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    Package p = run(TYPE_DSP_HEX, "dsp.hex", "dsp.enc");
    EXPECT_EQ(p.output, "Reading in the DSP HEX file to encrypt\n");
    ASSERT_EQ(source.size(), 204u);
    expectPackage(p, TYPE_DSP_HEX, 0, 100, source, true);
}

TEST_F(PackageWriterTest, MainImageUpTo0x20000)
{
    writeText("main.hex",
              ":0400000001020304F2\r\n"
              ":020000021000EC\r\n"
              ":10FFF000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF89\r\n"
              ":00000001FF\r\n");
    Bytes source(0x20000, 0);
    for (unsigned i = 0; i < 4; ++i)
        source[i] = static_cast<std::uint8_t>(i + 1);
    for (unsigned i = 0; i < 16; ++i)
        source[0x1FFF0 + i] = static_cast<std::uint8_t>(0xA0 + i);
    Package p = run(TYPE_MAIN_HEX, "main.hex", "main.enc");
    EXPECT_EQ(p.output, "Reading in the Main CPU HEX file to encrypt\n");
    EXPECT_EQ(p.file.size(), 12u + 131080u);
    expectPackage(p, TYPE_MAIN_HEX, 0, 0x20000, source, true);
}

TEST_F(PackageWriterTest, HexImagesAboveZeroAreTakenFromTheirLowerBound)
{
    // Main CPU: bytes at 0x20..0x23 and 0x11D..0x120; moved down to offset
    // 8, the old tail would lie in the padding.
    writeText("main.hex", ":040020001122334432\r\n:04011D005566778824\r\n:00000001FF\r\n");
    Bytes mainSource(0x101, 0);
    for (unsigned i = 0; i < 4; ++i) {
        mainSource[i] = static_cast<std::uint8_t>(0x11 * (i + 1));
        mainSource[0xFD + i] = static_cast<std::uint8_t>(0x11 * (i + 5));
    }
    Package m = run(TYPE_MAIN_HEX, "main.hex", "main.enc");
    expectPackage(m, TYPE_MAIN_HEX, 0x20, 0x121, mainSource, false);

    // DSP: words 0xA1B2 0xC3D4 at word address 0x10.
    writeText("dsp.hex", ":04001000A1B2C3D402\r\n:00000001FF\r\n");
    Package d = run(TYPE_DSP_HEX, "dsp.hex", "dsp.enc");
    expectPackage(d, TYPE_DSP_HEX, 0x10, 0x12,
                  {0x10, 0x00, 0x12, 0x00, 0xB2, 0xA1, 0xD4, 0xC3}, true);
}

TEST_F(PackageWriterTest, RefusedInputsWriteNothing)
{
    const std::string dspOver = ":020000001234B8\n:02317F00567880\n:00000001FF\n";  // words 0 to 12671
    struct Case {
        std::uint8_t type;
        const char* input;
        Bytes content;
        const char* message;  // after the start message; nullptr: the reader's own
    } cases[] = {
        {TYPE_MAIN_HEX, "nodata.hex", {':', '0', '0', '0', '0', '0', '0', '0', '1', 'F', 'F', '\n'},
         "No data to encrypt in: nodata.hex"},
        {TYPE_HTML, "big.htm", pattern(196353), "Image too large to encrypt: big.htm"},
        {TYPE_JAVA, "big.jar", pattern(196351), "Image too large to encrypt: big.jar"},
        {TYPE_HTML, "empty.htm", {}, nullptr},
        // One page more than the kind owns; a DSP package of 100 pages is sent up to 1672.
        {TYPE_JAVA, "over.jar", pattern(128 * 256 - 1), "Image size exceeds allotment. pages:129 allotment:128\n"},
        {TYPE_LOGO, "over.bmp", pattern(16 * 256 - 1), "Image size exceeds allotment. pages:17 allotment:16\n"},
        {TYPE_HTML, "over.htm", pattern(400 * 256 + 1), "Image size exceeds allotment. pages:401 allotment:400\n"},
        {TYPE_DSP_HEX, "over.hex", Bytes(dspOver.begin(), dspOver.end()),
         "DSP code size exceeds allotment. dspLastPage:1672\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        writeFile(c.input, c.content);
        Package p = run(c.type, c.input, kindOf(c.type).output);
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.output.rfind(kindOf(c.type).message, 0), 0u) << p.output;
        if (c.message) {
            EXPECT_EQ(p.output, std::string(kindOf(c.type).message) + c.message);
        }
        EXPECT_EQ(packageFiles(), 0);
    }
    Package absent = run(TYPE_LOGO, "absent.bmp", "logo.enc");
    EXPECT_EQ(absent.output, "Reading in the Logo file to encrypt\nCould not open: absent.bmp");
    EXPECT_EQ(packageFiles(), 0);
}

TEST_F(PackageWriterTest, TypesOutsideTwoToSixAreRefused)
{
    writeFile("input.bin", pattern(10));
    for (std::uint8_t type : {0, 1, 7, 0xFF}) {
        Package p = run(type, "input.bin", "main.enc");
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.output, "No file has been specified to encrypt\n");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
}

TEST_F(PackageWriterTest, KeyTakesEightCharactersWithoutTheirLowBits)
{
    Bytes content = pattern(300);
    Bytes a = raw(TYPE_JAVA, content, "java.enc", "abcdefgh1").file;
    Bytes b = raw(TYPE_JAVA, content, "java.enc", "abcdefgh2345").file;
    Bytes c = raw(TYPE_JAVA, content, "java.enc", "`cbedgfi").file;  // each low bit flipped
    Bytes d = raw(TYPE_JAVA, content, "java.enc", "abcdefgj").file;
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    EXPECT_NE(a, d);
}

TEST_F(PackageWriterTest, FailedWriteKeepsTheOldPackageSuccessReplacesIt)
{
    Bytes old = pattern(5000);
    writeFile("java.enc", old);
    writeFile("input.bin", pattern(2000));
    packageWrite = failingWrite;
    // Five write requests: type, two bounds, CRC, body.
    for (int failAt = 0; failAt < 5; ++failAt) {
        SCOPED_TRACE(failAt);
        writesBeforeFailure = failAt;
        Package p = run(TYPE_JAVA, "input.bin", "java.enc");
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.output, "Reading in the Java file to encrypt\nCould not write: java.enc");
        EXPECT_EQ(p.file, old);
        EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 2);
    }
    // All writes through: the old package is replaced.
    writesBeforeFailure = 5;
    Package p = run(TYPE_JAVA, "input.bin", "java.enc");
    EXPECT_EQ(p.output, "Reading in the Java file to encrypt\n");
    EXPECT_EQ(p.file.size(), 12u + 2056u);
    EXPECT_EQ(packageFiles(), 1);
}

TEST_F(PackageWriterTest, TemporaryTakesANameNobodyUses)
{
    // The user's files under the names a temporary could take stay as they are.
    writeFile("logo.enc.tmp", pattern(50));
    fs::create_directory(std::string("logo.enc.1") + PACKAGE_TEMP_SUFFIX);
    writeFile(std::string("logo.enc.2") + PACKAGE_TEMP_SUFFIX, pattern(60));
    EXPECT_EQ(raw(TYPE_LOGO, pattern(10), "logo.enc").file.size(), 12u + 264u);
    EXPECT_EQ(readFile("logo.enc.tmp"), pattern(50));
    EXPECT_TRUE(fs::is_directory(std::string("logo.enc.1") + PACKAGE_TEMP_SUFFIX));
    EXPECT_EQ(readFile(std::string("logo.enc.2") + PACKAGE_TEMP_SUFFIX), pattern(60));
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 5);
}

TEST_F(PackageWriterTest, WorkingDirectoryGone)
{
#ifdef _WIN32
    GTEST_SKIP() << "the working directory cannot be removed here";
#else
    writeFile("input.bin", pattern(10));
    // Keep the input reachable from outside the directory about to vanish.
    fs::path input = dir / "input.bin";
    fs::path gone = dir / "gone";
    fs::create_directory(gone);
    fs::current_path(gone);
    fs::remove(gone);
    Package p = run(TYPE_HTML, input.string().c_str(), "html.enc");
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.output, "Reading in the html file to encrypt\nCould not open: html.enc");
    fs::current_path(dir);
#endif
}

// openssl's own DES-CBC as an independent receiver.
bool haveOpenssl()
{
#ifdef _WIN32
    return false;
#else
    return std::system("openssl version >/dev/null 2>&1") == 0;
#endif
}

std::string desKeyHex(const char* key)
{
    std::string k = keyText(key);
    std::string hex;
    char two[3];
    for (int j = 0; j < 8; ++j) {
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(k[static_cast<std::size_t>(j ^ 3)]));
        hex += two;
    }
    return hex;
}

Bytes opensslDecipher(const Bytes& cipher, const char* key)
{
    writeFile("cipher.bin", cipher);
    std::string command = "openssl enc -d -des-cbc -provider legacy -provider default -nopad -K " +
                          desKeyHex(key) + " -iv 5A3C91E70B64D218 -in cipher.bin -out plain.bin";
    if (std::system(command.c_str()) != 0)
        return {};
    return readFile("plain.bin");
}

TEST_F(PackageWriterTest, OpensslDeciphersWhatWasWritten)
{
    if (!haveOpenssl())
        GTEST_SKIP() << "no openssl";
    struct Case {
        std::uint8_t type;
        std::size_t length;
        const char* key;
        bool partial;
    } cases[] = {
        {TYPE_JAVA, 1000, "secret", true},
        {TYPE_HTML, 100, "K", true},  // DES key 00 00 00 4B 00 00 00 00
        {TYPE_LOGO, 4000, "longer than sixteen", true},
        {TYPE_HTML, 5000, "\x7F\x80\xFF" "abc", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        Bytes content = pattern(c.length, static_cast<unsigned>(c.length));
        Bytes source = rawSource(c.type, content);
        Package p = raw(c.type, content, kindOf(c.type).output, c.key, c.partial);
        expectPackage(p, c.type, 0, static_cast<std::uint32_t>(source.size()), source, c.partial,
                      c.key, opensslDecipher);
    }
}

}  // namespace
