// VNinfo from outside: packages written by VNloader, then damaged in the
// ways an operator meets (cut, wrong key, wrong type byte, corrupted), and
// plain Intel HEX files in byte and word mode.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "image/crc16.h"
#include "package/cbc.h"
#include "hex_text.h"
#include "programs.h"
#include "usage_docs.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

const std::string key = "info-key";
constexpr std::size_t PAGE = 256;
constexpr std::size_t HEADER = 12;  // package header
// Six pages: longer than the 1032 bytes that are enciphered without -EA.
constexpr std::size_t MAIN_SIZE = 1500;

int runMs()
{
    return programsUnderWine() ? 60000 : 10000;
}

Bytes mainImage()
{
    std::mt19937 random(21);
    Bytes image(MAIN_SIZE);
    for (auto& b : image)
        b = static_cast<std::uint8_t>(random());
    image[0] = 0x5A;  // not the length prefix a Java image would start with
    image[1] = 0xA5;
    return image;
}

std::string mainHex(const Bytes& image)
{
    std::string text;
    for (std::size_t at = 0; at < image.size(); at += 16) {
        std::size_t end = at + 16 < image.size() ? at + 16 : image.size();
        text += hexRecord(0, static_cast<unsigned>(at),
                          Bytes(image.begin() + static_cast<long>(at),
                                image.begin() + static_cast<long>(end)));
    }
    return text + ":00000001FF\r\n";
}

void putU16(Bytes& bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// The package header's CRC made to fit the body again.
void resealPackage(Bytes& package)
{
    putU16(package, 10, updateCrc16(package.data() + HEADER,
                                    static_cast<std::uint32_t>(package.size() - HEADER)));
}

bool has(const std::string& output, const std::string& text)
{
    return output.find(text) != std::string::npos;
}

// One main.enc written by VNloader (and one written with -EA) in a
// directory of their own, for every test to damage copies of.
class VNinfoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new std::string(makeTempDir());
        writeTextFile(*dir + "/main.hex", mainHex(mainImage()));
        ProgramResult made = runProgram("VNloader", {"-NE", "-T", "M", "-f", "main.hex", "-K", key},
                                        runMs(), *dir);
        ASSERT_EQ(made.status, 1) << made.output;
        std::rename((*dir + "/main.enc").c_str(), (*dir + "/whole.enc").c_str());
        made = runProgram("VNloader", {"-NE", "-T", "M", "-f", "main.hex", "-K", key, "-EA"},
                          runMs(), *dir);
        ASSERT_EQ(made.status, 1) << made.output;
        std::rename((*dir + "/main.enc").c_str(), (*dir + "/whole-ea.enc").c_str());
        made = runProgram("VNloader", {"-NE", "-T", "M", "-f", "main.hex", "-K", key}, runMs(),
                          *dir);
        ASSERT_EQ(made.status, 1) << made.output;
        package = new Bytes(readFile(*dir + "/main.enc"));
        ASSERT_EQ(package->size(), HEADER + 8 + 6 * PAGE);
    }

    static void TearDownTestSuite()
    {
        delete package;
        delete dir;
    }

    static ProgramResult info(const std::vector<std::string>& args)
    {
        return runProgram("VNinfo", args, runMs(), *dir);
    }

    static ProgramResult infoOn(const Bytes& file, std::vector<std::string> args)
    {
        writeFile(*dir + "/damaged.enc", file);
        args.push_back("damaged.enc");
        return info(args);
    }

    static std::string* dir;
    static Bytes* package;
};

std::string* VNinfoTest::dir = nullptr;
Bytes* VNinfoTest::package = nullptr;

TEST_F(VNinfoTest, GoodPackageIsFitAndItsTransferMatchesTheBody)
{
    ProgramResult r = info({"-K", key, "main.enc"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has(r.output, "body                 1544 bytes: page header and 6 pages")) << r.output;
    EXPECT_TRUE(has(r.output, "source length        1500 bytes: fits the body")) << r.output;
    EXPECT_TRUE(has(r.output, "Result: 0, fit to send")) << r.output;

    // The finish packet's CRC covers the body from its page header on, as
    // many bytes as the pages sent.
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "\"firstPage\":0,\"endPage\":6,\"pages\":6,\"imagePages\":6,\"packets\":2,"
                  "\"firstPacketLength\":1055,\"firstFlags\":129,\"laterFlags\":0,"
                  "\"finishType\":9,\"finishFlags\":1,\"imageCrc\":%u}",
                  updateCrc16(package->data() + HEADER, 6 * PAGE));
    r = info({"--json", "-K", key, "-f", "main.enc"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has(r.output, expected)) << r.output;
    EXPECT_TRUE(has(r.output, "\"sourceLength\":1500,\"lengthFits\":true")) << r.output;

    // Without the key the page header cannot be judged; nothing fails.
    r = info({"main.enc"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has(r.output, "page header not checked: give the key with -K")) << r.output;

    // Enciphered whole: checks out with -EA, and its later packets are marked.
    r = info({"-K", key, "-EA", "whole-ea.enc"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has(r.output, "the others flags 0x01")) << r.output;
}

TEST_F(VNinfoTest, CutPackagesFailTheirCrcOrCannotBeRead)
{
    struct Case {
        std::size_t length;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {package->size() - 1, 3, "the file is corrupted or cut"},
        {HEADER + 520, 3, "the file is corrupted or cut"},
        {HEADER, 3, "the file is corrupted or cut"},  // no body at all
        {6, 2, "Could not read nMaxHexAddress"},
        {0, 2, "Could not read Magic Number"},
    };
    for (const Case& c : cases) {
        Bytes cut(package->begin(), package->begin() + static_cast<long>(c.length));
        ProgramResult r = infoOn(cut, {"-K", key});
        EXPECT_EQ(r.status, c.status) << c.length << "\n" << r.output;
        EXPECT_TRUE(has(r.output, c.says)) << c.length << "\n" << r.output;
        EXPECT_FALSE(has(r.output, "Transfer\n")) << "a refused file has no transfer";
    }
}

TEST_F(VNinfoTest, WrongKeyOrWrongEncipherModeFailThePageHeader)
{
    ProgramResult r = info({"-K", "not-the-key", "main.enc"});
    EXPECT_EQ(r.status, 4) << r.output;
    EXPECT_TRUE(has(r.output, "wrong key, or the body is corrupted")) << r.output;

    // The key's ninth character takes no part in the cipher.
    r = info({"-K", key + "X", "main.enc"});
    EXPECT_EQ(r.status, 0) << r.output;

    r = info({"-K", key, "-EA", "main.enc"});
    EXPECT_EQ(r.status, 4) << r.output;
    EXPECT_TRUE(has(r.output, "written without -EA")) << r.output;
    r = info({"-K", key, "whole-ea.enc"});
    EXPECT_EQ(r.status, 4) << r.output;
    EXPECT_TRUE(has(r.output, "written with -EA")) << r.output;
}

TEST_F(VNinfoTest, WrongTypeBytes)
{
    struct Case {
        std::uint8_t type;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {9, 2, "Bad File Type, This is not an ORLIX microcode update file: damaged.enc"},
        {0x80, 2, "Bad File Type"},
        {7, 5, "\"Unknown file type\" (exit status -1)"},
        {1, 5, "\"Unknown file type\" (exit status -1)"},
        // Loads and would be sent to the Java pages: only the image tells.
        {5, 6, "a Java image starts with its content length"},
        {3, 6, "make a DSP HEX image of 3004 bytes"},
    };
    for (const Case& c : cases) {
        Bytes changed = *package;
        changed[1] = c.type;
        ProgramResult r = infoOn(changed, {"-K", key});
        EXPECT_EQ(r.status, c.status) << int(c.type) << "\n" << r.output;
        EXPECT_TRUE(has(r.output, c.says)) << int(c.type) << "\n" << r.output;
    }
}

TEST_F(VNinfoTest, CorruptedBodies)
{
    // In the stored bytes: the package header's CRC catches it.
    Bytes corrupted = *package;
    corrupted[HEADER + 1100] ^= 0x01;
    ProgramResult r = infoOn(corrupted, {});
    EXPECT_EQ(r.status, 3) << r.output;
    EXPECT_TRUE(has(r.output, "Bad crc from: damaged.enc, this file appears corrupted")) << r.output;

    // With that CRC made to fit again, only the page header can tell, in
    // the plain part and in the enciphered part alike.
    for (std::size_t at : {std::size_t{1100}, std::size_t{20}}) {
        Bytes changed = *package;
        changed[HEADER + at] ^= 0x80;
        resealPackage(changed);
        r = infoOn(changed, {});
        EXPECT_EQ(r.status, 0) << at << "\n" << r.output;
        r = infoOn(changed, {"-K", key});
        EXPECT_EQ(r.status, 4) << at << "\n" << r.output;
    }

    // A body that is not a page header and whole pages.
    Bytes longer = *package;
    longer.push_back(0);
    resealPackage(longer);
    r = infoOn(longer, {"-K", key});
    EXPECT_EQ(r.status, 4) << r.output;
    EXPECT_TRUE(has(r.output, "[6] the body is 1545 bytes, not a page header and whole pages"))
        << r.output;

    // A Java body of a sound page header alone: no image bytes to read.
    Bytes bare = {'A', 5, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
    cbcRun(bare.data() + HEADER, 8, reinterpret_cast<const std::uint8_t*>(key.data()), 1);
    resealPackage(bare);
    r = infoOn(bare, {"-K", key});
    EXPECT_EQ(r.status, 6) << r.output;
}

TEST_F(VNinfoTest, MainCpuHexWithGaps)
{
    // Two stretches, the second behind a segment record.
    writeTextFile(*dir + "/gaps.hex", ":0400100001020304E2\r\n:020000021000EC\r\n"
                                      ":03000000AABBCCCC\r\n:00000001FF\r\n");
    ProgramResult r = info({"--json", "-NE", "-T", "M", "gaps.hex"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has(r.output, "\"minBound\":16,\"maxBound\":65539,\"dataRecords\":2,"
                              "\"otherRecords\":1,\"overlaps\":0,"
                              "\"data\":[{\"start\":16,\"end\":20},{\"start\":65536,\"end\":65539}],"
                              "\"gaps\":[{\"start\":20,\"end\":65536}]"))
        << r.output;
    // The image from its lower bound: 65523 bytes are 256 pages.
    EXPECT_TRUE(has(r.output, "\"firstPage\":0,\"endPage\":256,")) << r.output;
    EXPECT_TRUE(has(r.output, "\"packets\":64,\"firstPacketLength\":1047,\"firstFlags\":0,"))
        << r.output;

    ProgramResult text = info({"-NE", "-T", "M", "-f", "main.hex"});
    EXPECT_EQ(text.status, 0) << text.output;
    EXPECT_TRUE(has(text.output, "bounds               nMinHexAddress 0x0, nMaxHexAddress 0x5dc: 1500 bytes")) << text.output;
    EXPECT_TRUE(has(text.output, "gaps (sent as 0)     none")) << text.output;

    writeTextFile(*dir + "/bad.hex", ":2100000000\r\n");
    r = info({"-NE", "-T", "M", "bad.hex"});
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(has(r.output, "Input file not Intel Hex format:bad.hex")) << r.output;

    writeTextFile(*dir + "/empty.hex", ":00000001FF\r\n");
    r = info({"-NE", "-T", "M", "empty.hex"});
    EXPECT_EQ(r.status, 5) << r.output;
    EXPECT_TRUE(has(r.output, "Nothing to send")) << r.output;
}

TEST_F(VNinfoTest, DspHexWordImageAndAllotment)
{
    writeTextFile(*dir + "/dsp.hex", ":04001000A1B2C3D402\r\n:04001200E5F60718F0\r\n:00000001FF\r\n");
    ProgramResult r = info({"-NE", "-T", "D", "dsp.hex"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has(r.output, "bounds               nMinHexAddress 0x10, nMaxHexAddress 0x14: 4 words")) << r.output;
    EXPECT_TRUE(has(r.output, "word image           12 bytes at buffer offset 0x20: "
                              "10 00 14 00 b2 a1 d4 c3 f6 e5 18 07\n"))
        << r.output;
    EXPECT_TRUE(has(r.output, "finishType 10, flags 0x00, firstPage 1571, endPage 1572")) << r.output;

    // 12800 words make a word image of 25604 bytes: 101 pages, one too many.
    std::string text;
    for (unsigned word = 0; word < 12800; word += 8)
        text += hexRecord(0, word, Bytes(16, 0x11));
    writeTextFile(*dir + "/big-dsp.hex", text);
    r = info({"-NE", "-T", "D", "big-dsp.hex"});
    EXPECT_EQ(r.status, 5) << r.output;
    EXPECT_TRUE(has(r.output, "DSP code size exceeds allotment. dspLastPage:1672")) << r.output;

    // Word bounds past 0xFFFF, as an older VNloader packaged them.
    ASSERT_EQ(runProgram("VNloader", {"-NE", "-T", "D", "-f", "dsp.hex", "-K", key}, runMs(), *dir).status, 1);
    Bytes high = readFile(*dir + "/dsp.enc");
    high[4] = high[8] = 1;  // both word bounds 0x10000 higher
    r = infoOn(high, {"-K", key});
    EXPECT_EQ(r.status, 6) << r.output;
    EXPECT_TRUE(has(r.output, "[6] the upper word bound 0x10014 does not fit")) << r.output;
}

TEST_F(VNinfoTest, RawFilesAndMistakenTypes)
{
    struct Case {
        const char* letter;
        std::size_t size;
        int status;
        const char* says;
    };
    // With the length prefix, but for html: 4096 bytes fill 16 pages.
    const Case cases[] = {
        {"L", 4094, 0, "pages                1555 to 1570 (16 pages)"},
        {"L", 5000, 5, "\"Image size exceeds allotment. pages:20 allotment:16\" (exit status 0)"},
        {"H", 400 * PAGE, 0, "pages                1027 to 1426 (400 pages)"},
        {"H", 400 * PAGE + 1, 5, "\"Image size exceeds allotment. pages:401 allotment:400\""},
        {"J", 128 * PAGE - 2, 0, "pages                1427 to 1554 (128 pages)"},
        {"J", 128 * PAGE - 1, 5, "\"Image size exceeds allotment. pages:129 allotment:128\""},
    };
    for (const Case& c : cases) {
        writeFile(*dir + "/raw.bin", Bytes(c.size, 0x42));
        ProgramResult r = info({"-NE", "-T", c.letter, "raw.bin"});
        EXPECT_EQ(r.status, c.status) << c.letter << c.size << "\n" << r.output;
        EXPECT_TRUE(has(r.output, c.says)) << c.letter << c.size << "\n" << r.output;
    }

    // A package given as a plain file would be sent whole, headers and all.
    ProgramResult r = info({"-NE", "-T", "J", "main.enc"});
    EXPECT_EQ(r.status, 6) << r.output;
    EXPECT_TRUE(has(r.output, "send it without -NE")) << r.output;

    // With the key, a Java package relabelled main has the shape of a Java image.
    writeFile(*dir + "/raw.bin", Bytes(1000, 0x42));
    ASSERT_EQ(runProgram("VNloader", {"-NE", "-T", "J", "-f", "raw.bin", "-K", key}, runMs(), *dir).status, 1);
    Bytes relabelled = readFile(*dir + "/java.enc");
    relabelled[1] = 2;
    r = infoOn(relabelled, {"-K", key});
    EXPECT_EQ(r.status, 6) << r.output;
    EXPECT_TRUE(has(r.output, "the image has the shape of a Java or logo image")) << r.output;

    // With the key, an html page relabelled main is text; a main image of
    // the same length is not.
    writeTextFile(*dir + "/page.html", "<html><body>\tcaf\xc3\xa9\r\n</body></html>\n");
    ASSERT_EQ(runProgram("VNloader", {"-NE", "-T", "H", "-f", "page.html", "-K", key}, runMs(), *dir).status, 1);
    relabelled = readFile(*dir + "/html.enc");
    relabelled[1] = 2;
    r = infoOn(relabelled, {"-K", key});
    EXPECT_EQ(r.status, 6) << r.output;
    EXPECT_TRUE(has(r.output, "[6] the image is text, as an html page is: was the type byte changed?")) << r.output;
    Bytes code = mainImage();
    code.resize(relabelled[6]);  // nMaxHexAddress: the page's length
    const std::string other = makeTempDir();
    writeTextFile(other + "/same.hex", mainHex(code));
    ASSERT_EQ(runProgram("VNloader", {"-NE", "-T", "M", "-f", "same.hex", "-K", key}, runMs(), other).status, 1);
    r = runProgram("VNinfo", {"-K", key, "main.enc"}, runMs(), other);
    EXPECT_EQ(r.status, 0) << r.output;

    // A HEX file taken for a package.
    r = info({"main.hex"});
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(has(r.output, "give -NE -T M or -NE -T D")) << r.output;
}

TEST_F(VNinfoTest, Usage)
{
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{}, 1},
        {{"-h"}, 0},
        {{"-NE", "main.hex"}, 1},
        {{"-NE", "-T", "X", "main.hex"}, 1},
        {{"-K"}, 1},
        {{"--bogus", "main.enc"}, 1},
        {{"a.enc", "b.enc"}, 1},
        {{"missing.enc"}, 2},
    };
    for (const Case& c : cases) {
        ProgramResult r = info(c.args);
        EXPECT_EQ(r.status, c.status) << r.output;
        // Usage errors on standard error, the asked-for usage on standard output.
        if (c.status == 1) {
            EXPECT_TRUE(has(r.errors, "usage: VNinfo [options] <file>\n")) << r.errors;
            EXPECT_EQ(r.output, "");
        }
        if (c.status == 0) {
            EXPECT_TRUE(has(r.output, "usage: VNinfo [options] <file>\n")) << r.output;
        }
        // The report is the output; an unfit file also says so in one line.
        if (c.status == 2) {
            EXPECT_TRUE(has(r.output, "Result: 2, ")) << r.output;
            EXPECT_TRUE(has(r.errors, "VNinfo: missing.enc: status 2, cannot be read")) << r.errors;
        }
    }
}

TEST_F(VNinfoTest, ReadmeAndManualListTheOptionsAndStatusesOfHelp)
{
    expectDocsListWhatHelpLists(info({"--help"}).output, "## Checking a package before sending it",
                                "man/VNinfo.1");
}

TEST_F(VNinfoTest, HexRecordReport)
{
    const std::string good = hexRecord(0, 0x10, {1, 2, 3, 4});
    const std::string end = ":00000001FF\r\n";
    struct Case {
        const char* what;
        std::string text;
        int status;
        const char* says;
        const char* json = nullptr;  // in --json too
    };
    const Case cases[] = {
        {"wrong checksum", good + ":0400140001020304E3\r\n" + end, 8,
         "bad checksums        line 2: 0xe3, the record needs 0xde"},
        {"overlap", good + hexRecord(0, 0x12, {5, 6}) + end, 9,
         "overlapping data     line 2: 0x12 to 0x13 (2 bytes) over earlier data"},
        {"data after the end", good + end + hexRecord(0, 0x20, {7}), 11,
         "[11] 1 data record after the end-of-file record on line 2, the first on line 3: other "
         "tools stop there, VNloader sends them"},
        {"long symbol records after the end", good + end + hexRecord(0xFE, 0, Bytes(37, 3)) +
         hexRecord(0xFE, 0, Bytes(255, 4)), 0, "records              1 data, 3 other"},
        {"start address", good + hexRecord(3, 0, {0, 0, 1, 0}) + end, 0,
         "1 start address record (type 03 or 05), the first on line 2; VNloader ignores them"},
        {"no end-of-file record", good, 10, "[10] no end-of-file record (type 01): the file may be cut short"},
        {"joined", good + ":00000001FF" + good, 2,
         "VNloader would stop: \"Input file not Intel Hex format:records.hex\"; line 2 (type 01, "
         "length 0): another record follows on the same line"},
        {"64-byte data record", good + hexRecord(0, 0x20, Bytes(64, 1)) + end, 2,
         "  refused              line 2: type 00, length 64\n"
         "  rule                 VNloader takes at most 32 data bytes a record\n"
         "  what to do           re-block it, e.g. `srec_cat in.hex -intel -o out.hex -intel -obs 32`\n",
         "\"refusal\":{\"line\":2,\"record\":true,\"type\":0,\"length\":64,\"rule\":\"VNloader "
         "takes at most 32 data bytes a record\",\"advice\":\"re-block it"},
        {"comment line", "# made by hand\r\n" + good + end, 2,
         "; line 1 is not a record: remove comment lines",
         "\"refusal\":{\"line\":1,\"record\":false,\"rule\":\"not a record\""},
        {"CR-only line ends", ":0100200077FF\r:0100300088FF\r", 2, "rule                 CR-only line ends"},
    };
    for (const Case& c : cases) {
        writeTextFile(*dir + "/records.hex", c.text);
        ProgramResult r = info({"-NE", "-T", "M", "records.hex"});
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.output;
        EXPECT_TRUE(has(r.output, c.says)) << c.what << "\n" << r.output;
        if (c.json) {
            EXPECT_TRUE(has(info({"--json", "-NE", "-T", "M", "records.hex"}).output, c.json)) << c.what;
        }
    }
}
}  // namespace
