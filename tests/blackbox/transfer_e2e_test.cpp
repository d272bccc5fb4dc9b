// VNloader sends to VNsim on 127.0.0.1, as it would to a device: every
// image type, plain and packaged, and the loader's answers to the device's
// faults. The image VNsim writes must be the one that was sent.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "hex_text.h"
#include "programs.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

const std::string password = "pw";
const std::string key = "e2e-key";
constexpr std::size_t PAGE = 256;
const std::string powerWarning =
    "Do not remove the power until you get a reply from pinging the device.\n";

// A whole transfer, start-up included; one dropped reply costs 10 s more.
int transferMs()
{
    return programsUnderWine() ? 90000 : 30000;
}

Bytes padded(Bytes image, std::size_t pages)
{
    image.resize(pages * PAGE, 0);
    return image;
}

std::size_t pagesOf(std::size_t bytes)
{
    return bytes == 0 ? 1 : (bytes + PAGE - 1) / PAGE;
}

Bytes withLengthPrefix(const Bytes& content)
{
    Bytes image(content.size() + 2);
    image[0] = static_cast<std::uint8_t>(content.size() & 0xFF);
    image[1] = static_cast<std::uint8_t>((content.size() >> 8) & 0xFF);
    std::copy(content.begin(), content.end(), image.begin() + 2);
    return image;
}

// Intel HEX, byte mode from address 0: 16-byte records, a segment record at
// every 64 KiB.
std::string mainHex(const Bytes& image)
{
    std::string text;
    for (std::size_t at = 0; at < image.size(); at += 16) {
        if (at % 0x10000 == 0 && at != 0) {
            unsigned segment = static_cast<unsigned>(at >> 4);
            text += hexRecord(2, 0, {static_cast<std::uint8_t>(segment >> 8),
                                     static_cast<std::uint8_t>(segment & 0xFF)});
        }
        std::size_t end = at + 16 < image.size() ? at + 16 : image.size();
        text += hexRecord(0, static_cast<unsigned>(at & 0xFFFF), Bytes(image.begin() + at, image.begin() + end));
    }
    return text + ":00000001FF\r\n";
}

// Intel HEX, word mode from word 0, two words a record: the DSP reader takes
// twice a record's data characters, and what it takes past the data is
// overwritten by the next record or, after the last, by the word image.
std::string dspHex(const std::vector<std::uint16_t>& words)
{
    std::string text;
    for (std::size_t at = 0; at < words.size(); at += 2) {
        Bytes data;
        for (std::size_t i = at; i < at + 2 && i < words.size(); ++i) {
            data.push_back(static_cast<std::uint8_t>(words[i] >> 8));
            data.push_back(static_cast<std::uint8_t>(words[i] & 0xFF));
        }
        text += hexRecord(0, static_cast<unsigned>(at), data);
    }
    return text + ":00000001FF\r\n";
}

// The DSP word image: the bounds, then each word low byte first.
Bytes dspImage(const std::vector<std::uint16_t>& words)
{
    Bytes image{0, 0, static_cast<std::uint8_t>(words.size() & 0xFF),
                static_cast<std::uint8_t>(words.size() >> 8)};
    for (std::uint16_t w : words) {
        image.push_back(static_cast<std::uint8_t>(w & 0xFF));
        image.push_back(static_cast<std::uint8_t>(w >> 8));
    }
    return image;
}

// One firmware file and what the device must end up with.
struct Firmware {
    std::string letter;
    std::string fileName;
    std::string contents;
    unsigned firstPage;
    Bytes plainReceived;     // sent with -NE: the pages of the loaded image
    Bytes packagedReceived;  // sent as a package: its padded image
    std::string packageName;
};

std::vector<Firmware> firmwareOfEveryType()
{
    std::vector<Firmware> all;
    // Longer than 64 KiB, so the page header's 16-bit length wraps.
    Bytes main = randomBytes(0x10100, 11);
    all.push_back({"M", "main.hex", mainHex(main), 0, main, main, "main.enc"});

    std::vector<std::uint16_t> words(382);  // a word image of exactly 3 pages
    std::mt19937 random(12);
    for (auto& w : words)
        w = static_cast<std::uint16_t>(random());
    Bytes dsp = dspImage(words);
    // A plain DSP image travels with one page more than it fills.
    all.push_back({"D", "dsp.hex", dspHex(words), 1571, padded(dsp, dsp.size() / PAGE + 1), dsp,
                   "dsp.enc"});

    Bytes logo = randomBytes(2000, 13);
    Bytes logoImage = withLengthPrefix(logo);
    all.push_back({"L", "logo.bin", std::string(logo.begin(), logo.end()), 1555,
                   padded(logoImage, 16), padded(logoImage, pagesOf(logoImage.size())),
                   "logo.enc"});

    Bytes java = randomBytes(3000, 14);
    Bytes javaImage = withLengthPrefix(java);
    all.push_back({"J", "app.jar", std::string(java.begin(), java.end()), 1427,
                   padded(javaImage, pagesOf(javaImage.size())),
                   padded(javaImage, pagesOf(javaImage.size())), "java.enc"});

    Bytes html = randomBytes(1500, 15);
    all.push_back({"H", "index.html", std::string(html.begin(), html.end()), 1027,
                   padded(html, 400), padded(html, pagesOf(html.size())), "html.enc"});
    return all;
}

struct Transfer {
    ProgramResult loader;
    ProgramResult sim;
    Bytes received;  // the image VNsim wrote; empty when none
};

// Starts VNsim (with -o), waits until it listens, runs VNloader against it
// in dir and collects both.
Transfer runTransfer(const std::string& dir, const std::vector<std::string>& loaderArgs,
                     std::vector<std::string> simArgs)
{
    std::string out = dir + "/received.bin";
    std::remove(out.c_str());
    simArgs.insert(simArgs.end(), {"-o", out});
    RunningProgram sim = startProgram("VNsim", simArgs, dir);
    Transfer t{};
    bool listening = waitForOutput(sim, "VNsim: listening on 127.0.0.1:69\n", startupMs());
    if (!listening && programsUnderWine() && sim.output.empty()) {
        // Wine itself, not VNsim, failed to start the program (VNsim says
        // something on every way out); VN_WINE_STDERR keeps Wine's reason.
        stopProgram(sim);
        std::fprintf(stderr, "Wine did not start VNsim; starting it once more\n");
        sim = startProgram("VNsim", simArgs, dir);
        listening = waitForOutput(sim, "VNsim: listening on 127.0.0.1:69\n", startupMs());
    }
    if (!listening) {
        t.sim = stopProgram(sim);
        ADD_FAILURE() << "VNsim did not start:\n" << t.sim.output;
        return t;
    }
    std::vector<std::string> args{"-IP", "127.0.0.1"};
    args.insert(args.end(), loaderArgs.begin(), loaderArgs.end());
    t.loader = runProgram("VNloader", args, transferMs(), dir);
    t.sim = finishProgram(sim, startupMs());
    t.received = readFile(out);
    return t;
}

// VNloader's output without the debug lines, which its listener thread
// prints whenever VNsim's messages happen to arrive.
std::string withoutDebugLines(const std::string& output)
{
    std::string kept;
    std::size_t at = 0;
    while (at < output.size()) {
        std::size_t end = output.find('\n', at);
        end = end == std::string::npos ? output.size() : end + 1;
        if (output.compare(at, 4, "Dbg>") != 0)
            kept += output.substr(at, end - at);
        at = end;
    }
    return kept;
}

// The loader's whole output for a transfer that nothing disturbed.
std::string cleanRun(unsigned firstPage, unsigned endPage)
{
    std::string text = "Sending the new microcode to the remote system\n";
    for (unsigned page = firstPage; page < endPage; page += 4) {
        unsigned last = page + 3 < endPage - 1 ? page + 3 : endPage - 1;
        text += "Sending Code Update pages " + std::to_string(page) + " to " +
                std::to_string(last) + "\n";
    }
    return text + "File Transfered\n" + powerWarning;
}

int occurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Package mode writes <type>.enc into dir.
void makePackage(const std::string& dir, const Firmware& f, bool encryptAll)
{
    std::vector<std::string> args{"-NE", "-T", f.letter, "-f", f.fileName, "-K", key};
    if (encryptAll)
        args.insert(args.begin(), "-EA");
    ProgramResult r = runProgram("VNloader", args, startupMs(), dir);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_FALSE(readFile(dir + "/" + f.packageName).empty()) << r.output;
}

std::string writeFirmware(const Firmware& f)
{
    std::string dir = makeTempDir();
    writeTextFile(dir + "/" + f.fileName, f.contents);
    return dir;
}
}  // namespace

TEST(TransferEndToEnd, PlainImageOfEveryTypeArrivesWhole)
{
    for (const Firmware& f : firmwareOfEveryType()) {
        SCOPED_TRACE(f.fileName);
        std::string dir = writeFirmware(f);
        Transfer t = runTransfer(dir, {"-P", password, "-NE", "-T", f.letter, "-f", f.fileName},
                                 {"-P", password});
        unsigned endPage = f.firstPage + static_cast<unsigned>(f.plainReceived.size() / PAGE);
        EXPECT_EQ(t.loader.status, 1) << t.loader.output;
        EXPECT_EQ(withoutDebugLines(t.loader.output), cleanRun(f.firstPage, endPage));
        EXPECT_EQ(t.sim.status, 0) << t.sim.output;
        EXPECT_EQ(t.received, f.plainReceived);
        EXPECT_NE(lastLine(t.sim.output).find(", crc ok, image written to "), std::string::npos)
            << t.sim.output;
    }
}

TEST(TransferEndToEnd, DevicesMessagesShowInTheListener)
{
    // A listener of its own, up before the transfer starts: the loader's
    // listener thread may still be starting when the first message comes.
    RunningProgram listener = startProgram("VNloader", {"-no"});
    bool up = false;
    for (int i = 0; i < startupMs() / 200 && !up; ++i) {
        sendDatagram(9029, "ping");
        up = waitForOutput(listener, ": ping\n", 200);
    }
    ASSERT_TRUE(up) << listener.output;

    const Firmware java = firmwareOfEveryType()[3];
    std::string dir = writeFirmware(java);
    Transfer t = runTransfer(dir, {"-P", password, "-NE", "-T", "J", "-f", java.fileName},
                             {"-P", password});
    EXPECT_EQ(t.loader.status, 1) << t.loader.output;
    EXPECT_TRUE(waitForOutput(listener, " 127.0.0.1: update finished, crc ok\n", startupMs()))
        << listener.output;
    EXPECT_NE(listener.output.find(" 127.0.0.1: update started\n"), std::string::npos)
        << listener.output;
    stopProgram(listener);
}

TEST(TransferEndToEnd, PackageOfEveryTypeIsDecipheredByTheDevice)
{
    for (const Firmware& f : firmwareOfEveryType()) {
        SCOPED_TRACE(f.packageName);
        std::string dir = writeFirmware(f);
        makePackage(dir, f, false);
        Transfer t = runTransfer(dir, {"-P", password, "-f", f.packageName},
                                 {"-P", password, "-K", key});
        EXPECT_EQ(t.loader.status, 1) << t.loader.output;
        EXPECT_NE(t.loader.output.find("File Transfered\n"), std::string::npos) << t.loader.output;
        EXPECT_EQ(t.sim.status, 0) << t.sim.output;
        EXPECT_EQ(t.received, f.packagedReceived);
        EXPECT_NE(lastLine(t.sim.output).find(", crc ok, page header crc ok, image written to "),
                  std::string::npos)
            << t.sim.output;
        EXPECT_NE(t.sim.output.find(", flags 0x81, 1055 bytes: ack " + std::to_string(f.firstPage) +
                                    "\n"),
                  std::string::npos)
            << t.sim.output;
    }
}

TEST(TransferEndToEnd, WhollyEncipheredPackageNeedsEAOnBothSides)
{
    const Firmware java = firmwareOfEveryType()[3];
    std::string dir = writeFirmware(java);
    makePackage(dir, java, true);

    Transfer t = runTransfer(dir, {"-EA", "-P", password, "-f", java.packageName},
                             {"-P", password, "-K", key});
    EXPECT_EQ(t.loader.status, 1) << t.loader.output;
    EXPECT_EQ(t.sim.status, 0) << t.sim.output;
    EXPECT_EQ(t.received, java.packagedReceived);
    EXPECT_NE(t.sim.output.find("code update 1435 to 1438, 4 pages, flags 0x01, 1047 bytes: ack 1435\n"),
              std::string::npos)
        << t.sim.output;

    // Sent without -EA the later packets say "plain", so the device leaves
    // them enciphered and the page header's CRC fails.
    t = runTransfer(dir, {"-P", password, "-f", java.packageName}, {"-P", password, "-K", key});
    EXPECT_EQ(t.loader.status, 0) << t.loader.output;
    EXPECT_NE(t.loader.output.find("Received bad CRC, exiting\n"), std::string::npos)
        << t.loader.output;
    EXPECT_EQ(t.sim.status, 1) << t.sim.output;
    EXPECT_NE(t.sim.output.find("page header crc bad: nack 6\n"), std::string::npos) << t.sim.output;
}

TEST(TransferEndToEnd, PackageWithoutTheKeyArrivesAsStored)
{
    const Firmware java = firmwareOfEveryType()[3];
    std::string dir = writeFirmware(java);
    makePackage(dir, java, false);
    Bytes package = readFile(dir + "/" + java.packageName);
    ASSERT_GT(package.size(), 20u);

    Transfer t = runTransfer(dir, {"-P", password, "-f", java.packageName}, {"-P", password});
    EXPECT_EQ(t.loader.status, 1) << t.loader.output;
    EXPECT_EQ(t.sim.status, 0) << t.sim.output;
    // The package header is 12 bytes, the page header 8.
    EXPECT_EQ(t.received, Bytes(package.begin() + 20, package.end()));
    EXPECT_NE(lastLine(t.sim.output).find("page header not checked (no key)"), std::string::npos)
        << t.sim.output;
}

TEST(TransferEndToEnd, LoaderCopesWithTheDevicesFaults)
{
    // Three packets: 1427, 1431 and 1435.
    const Firmware java = firmwareOfEveryType()[3];
    const std::string resend1427 = "Sending Code Update pages 1427 to 1430\n";
    const std::string resend1431 = "Sending Code Update pages 1431 to 1434\n";
    const std::string done = "File Transfered\n" + powerWarning;
    struct Case {
        const char* name;
        std::vector<std::string> simArgs;
        std::string loaderPassword;
        int loaderStatus;
        std::vector<std::string> loaderSays;  // in this order
        std::string sentTwice;                // the packet sent again, if any
        int simStatus;
        bool imageWritten;
    };
    const Case cases[] = {
        {"duplicate answer", {"--dup-at", "1427"}, password, 1,
         {"Received ACK from wrong packet. Wanted packet 1431, got packet 1427\n", done},
         resend1431, 0, true},
        {"wrong page", {"--wrong-page-at", "1431"}, password, 1,
         {"Received ACK from wrong packet. Wanted packet 1431, got packet 1432\n", done},
         resend1431, 0, true},
        {"long reply", {"--reply-length", "24@1431"}, password, 1,
         {"Wrong receive length from Code Update Packet 1431 wanted 23, got 24\n", done},
         resend1431, 0, true},
        {"short reply", {"--reply-length", "10@1431"}, password, 1,
         {"Error recvfrom length too short retransmitting packet\n", done}, resend1431, 0, true},
        {"plain refusal", {"--nack-at", "1431:5"}, password, 1,
         {"Received a NACK from packet 1431\n", done}, resend1431, 0, true},
        {"dropped reply", {"--drop", "1"}, password, 1,
         {"recv timeout retransmitting packet\n", done}, resend1427, 0, true},
        {"wrong password", {}, "not-pw", 255,
         {"Sending Code Update pages 1427 to 1430\nYou entered the wrong Set Password\n"}, "", 1,
         false},
        {"bad version", {"--nack-at", "1431:8"}, password, 0,
         {"Sending Code Update pages 1431 to 1434\nReceived bad version, exiting\n"}, "", 4,
         false},
        // One reply behind after the duplicate: the refusal of the finish
        // packet must not be hidden behind a late ACK.
        {"duplicate answer, then bad CRC at the finish",
         {"--dup-at", "1427", "--nack-at", "finish:6"}, password, 0,
         {"Received ACK from wrong packet. Wanted packet 1431, got packet 1427\n",
          "Received bad CRC, exiting\n"},
         resend1431, 1, false},
        {"bad CRC at the finish", {"--nack-at", "finish:6"}, password, 0,
         {"Sending Code Update pages 1435 to 1438\nReceived bad CRC, exiting\n"}, "", 1, false},
        // A refused finish packet is a failed update, whatever the reason.
        {"wrong password at the finish", {"--nack-at", "finish:4"}, password, 255,
         {"Sending Code Update pages 1435 to 1438\nYou entered the wrong Set Password\n"}, "", 1,
         false},
        {"plain refusal of the finish", {"--nack-at", "finish:5"}, password, 0,
         {"Sending Code Update pages 1435 to 1438\nReceived a NACK from packet 0\n"}, "", 1, false},
    };
    std::string dir = writeFirmware(java);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> simArgs{"-P", password};
        simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
        Transfer t = runTransfer(dir, {"-P", c.loaderPassword, "-NE", "-T", "J", "-f", java.fileName},
                                 simArgs);
        std::string said = withoutDebugLines(t.loader.output);
        EXPECT_EQ(t.loader.status, c.loaderStatus) << said;
        std::size_t at = 0;
        for (const std::string& line : c.loaderSays) {
            at = said.find(line, at);
            EXPECT_NE(at, std::string::npos) << line << "\nnot found in:\n" << said;
        }
        if (!c.sentTwice.empty()) {
            EXPECT_EQ(occurrences(said, c.sentTwice), 2) << said;
        }
        EXPECT_EQ(t.sim.status, c.simStatus) << t.sim.output;
        EXPECT_EQ(t.received, c.imageWritten ? java.plainReceived : Bytes()) << t.sim.output;
    }
}

// Packet 0's first answer comes only just before the finish packet's, after
// its resend was answered: that late ACK must not stand for the verdict.
TEST(TransferEndToEnd, LateAckOfPacketZeroDoesNotHideTheFinishVerdict)
{
    const Bytes image = randomBytes(600, 16);
    const std::string dir = makeTempDir();
    writeTextFile(dir + "/small.hex", mainHex(image));
    for (bool refused : {true, false}) {
        std::vector<std::string> simArgs{"--late-at", "0"};
        if (refused)
            simArgs.insert(simArgs.end(), {"--nack-at", "finish:6"});
        Transfer t = runTransfer(dir, {"-P", password, "-NE", "-T", "M", "-f", "small.hex"}, simArgs);
        const std::string said = withoutDebugLines(t.loader.output);
        const std::string end = refused ? "Received bad CRC, exiting\n"
                                        : "pages 0 to 2\nFile Transfered\n" + powerWarning;
        EXPECT_EQ(t.loader.status, refused ? 0 : 1) << said;
        EXPECT_EQ(occurrences(said, "recv timeout"), 1) << said;  // none at the finish
        EXPECT_EQ(said.substr(said.size() - std::min(said.size(), end.size())), end) << said;
        EXPECT_EQ(t.sim.status, refused ? 1 : 0) << t.sim.output;
        EXPECT_EQ(t.received, refused ? Bytes() : padded(image, 3)) << t.sim.output;
    }
}

// Many transfers over real sockets, each under a few of the device's faults
// that cost no 10-second wait (duplicate, wrong-page and wrong-length
// replies, NACK 5): every one must still deliver exactly the image.
// VN_SOCKET_SOAK_RUNS sets the count.
TEST(TransferEndToEnd, SoakUnderQuickFaults)
{
    const char* forced = std::getenv("VN_SOCKET_SOAK_RUNS");
    const int runs = forced ? std::atoi(forced) : (programsUnderWine() ? 20 : 200);
    const std::vector<Firmware> all = firmwareOfEveryType();
    const std::string dir = makeTempDir();
    for (const Firmware& f : all) {
        writeTextFile(dir + "/" + f.fileName, f.contents);
        makePackage(dir, f, false);
    }
    std::mt19937 random(20261209);
    for (int run = 0; run < runs && !HasFailure(); ++run) {
        const Firmware& f = all[random() % all.size()];
        const bool packaged = random() % 2 == 0;
        const Bytes& expected = packaged ? f.packagedReceived : f.plainReceived;
        const unsigned packets = static_cast<unsigned>((expected.size() / PAGE + 3) / 4);
        auto somePacket = [&] { return std::to_string(f.firstPage + 4 * (random() % packets)); };

        std::vector<std::string> faults;
        std::vector<int> kinds{0, 1, 2, 3};
        std::shuffle(kinds.begin(), kinds.end(), random);
        kinds.resize(1 + random() % 3);
        for (int kind : kinds) {
            if (kind == 0) {
                faults.insert(faults.end(), {"--dup-at", somePacket()});
            } else if (kind == 1) {
                faults.insert(faults.end(), {"--wrong-page-at", somePacket()});
            } else if (kind == 2) {
                unsigned length = random() % 2 ? 1 + random() % 22 : 24 + random() % 200;
                faults.insert(faults.end(),
                              {"--reply-length", std::to_string(length) + "@" + somePacket()});
            } else {
                faults.insert(faults.end(), {"--nack-at", somePacket() + ":5"});
            }
        }
        std::string said;
        for (const std::string& word : faults)
            said += word + " ";
        SCOPED_TRACE("run " + std::to_string(run) + ": " + (packaged ? f.packageName : f.fileName) +
                     " with " + said);

        std::vector<std::string> simArgs{"-P", password};
        if (packaged)
            simArgs.insert(simArgs.end(), {"-K", key});
        simArgs.insert(simArgs.end(), faults.begin(), faults.end());
        std::vector<std::string> loaderArgs{"-P", password, "-f", f.packageName};
        if (!packaged)
            loaderArgs = {"-P", password, "-NE", "-T", f.letter, "-f", f.fileName};
        Transfer t = runTransfer(dir, loaderArgs, simArgs);
        EXPECT_EQ(t.loader.status, 1) << t.loader.output;
        EXPECT_NE(withoutDebugLines(t.loader.output).find("File Transfered\n" + powerWarning),
                  std::string::npos)
            << t.loader.output;
        EXPECT_EQ(t.sim.status, 0) << t.sim.output;
        EXPECT_EQ(t.received, expected) << t.sim.output;
    }
}

// An input VNloader refuses before anything is sent or written.
struct RefusalCase {
    std::vector<std::string> args;
    bool transfer;
    std::string says;
    int status = 1;
};

void expectRefused(const std::string& dir, const RefusalCase& c)
{
    SCOPED_TRACE(c.args[c.args.size() - (c.transfer ? 1 : 3)] + (c.transfer ? " sent" : " packaged"));
    ProgramResult loader;
    if (c.transfer) {
        Transfer t = runTransfer(dir, c.args, {"--idle-ms", "1000"});
        loader = t.loader;
        EXPECT_EQ(t.sim.output.find("code update"), std::string::npos) << t.sim.output;
        EXPECT_TRUE(t.received.empty());
    } else {
        loader = runProgram("VNloader", c.args, startupMs(), dir);
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            EXPECT_NE(entry.path().extension(), ".enc");
    }
    EXPECT_EQ(loader.status, c.status) << loader.output;
    EXPECT_NE(withoutDebugLines(loader.output).find(c.says), std::string::npos) << loader.output;
    EXPECT_EQ(loader.output.find(c.status == 1 ? "Sending" : "Sending Code"), std::string::npos);
}

// A directory is no input: the loaders refuse it as a file they cannot
// open, in package mode and before a transfer sends anything. So are two
// HEX files joined without a line end, and DSP words past 0xFFFF.
TEST(TransferEndToEnd, UnusableInputIsRefusedBeforeAnythingIsSent)
{
    const RefusalCase cases[] = {
        {{"-NE", "-T", "J", "-f", "folder", "-K", key}, false,
         "Reading in the Java file to encrypt\nCould not open: folder"},
        {{"-NE", "-T", "M", "-f", "folder", "-K", key}, false, "Could not open: folder"},
        {{"-P", password, "-f", "folder"}, true, "Could not open: folder"},
        {{"-P", password, "-NE", "-T", "L", "-f", "folder"}, true, "Could not open: folder"},
        {{"-P", password, "-NE", "-T", "M", "-f", "folder"}, true, "Could not open: folder"},
        {{"-NE", "-T", "M", "-f", "joined.hex", "-K", key}, false, "Input file not Intel Hex format:joined.hex"},
        {{"-P", password, "-NE", "-T", "M", "-f", "joined.hex"}, true, "Input file not Intel Hex format:joined.hex"},
        {{"-NE", "-T", "D", "-f", "dsp.hex", "-K", key}, false, "DSP word address beyond 0xFFFF: dsp.hex"},
        {{"-P", password, "-NE", "-T", "D", "-f", "dsp.hex"}, true, "DSP word address beyond 0xFFFF: dsp.hex"},
    };
    const std::string dir = makeTempDir();
    ASSERT_EQ(system(("mkdir " + dir + "/folder").c_str()), 0);
    writeTextFile(dir + "/joined.hex", ":00000001FF:020000040001F9\r\n" + hexRecord(0, 0, {1}));
    writeTextFile(dir + "/dsp.hex", hexRecord(2, 0, {0x08, 0x00}) + hexRecord(0, 0, {1, 2}));
    for (const RefusalCase& c : cases)
        expectRefused(dir, c);
}

// Nor a FIFO, without waiting for a writer (the time limit catches a hang).
TEST(TransferEndToEnd, FifoAsInputIsRefusedAtOnce)
{
    if (programsUnderWine())
        GTEST_SKIP() << "Windows has no FIFOs in its file names";
    const std::string dir = makeTempDir();
    ASSERT_EQ(system(("mkfifo " + dir + "/pipe").c_str()), 0);
    for (const RefusalCase& c : {RefusalCase{{"-NE", "-T", "J", "-f", "pipe", "-K", key}, false,
                                             "to encrypt\nCould not open: pipe"},
                                 RefusalCase{{"-P", password, "-NE", "-T", "M", "-f", "pipe"}, true,
                                             "Could not open: pipe"}})
        expectRefused(dir, c);
}

// An image never runs past its type's pages: neither sent nor packaged.
TEST(TransferEndToEnd, ImageOverItsPagesIsRefused)
{
    const std::string dir = makeTempDir();
    writeFile(dir + "/over.jar", randomBytes(128 * PAGE - 1, 41));
    writeFile(dir + "/logo.bin", randomBytes(10000, 42));
    const std::string java = "Image size exceeds allotment. pages:129 allotment:128\n";
    const RefusalCase cases[] = {
        {{"-NE", "-T", "J", "-f", "over.jar", "-K", key}, false, "Reading in the Java file to encrypt\n" + java},
        {{"-P", password, "-NE", "-T", "J", "-f", "over.jar"}, true, "remote system\n" + java, 0},
        {{"-P", password, "-NE", "-T", "L", "-f", "logo.bin"}, true, "pages:40 allotment:16\n", 0}};
    for (const RefusalCase& c : cases)
        expectRefused(dir, c);
}

// HEX files as common tools write them from a binary over 64 KiB arrive
// byte for byte: the upper addresses come in segment (02) or extended
// linear address (04) records.
void sendToolchainHex(const char* tool, const std::string& command)
{
    if (system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
    const std::string dir = makeTempDir();
    const Bytes binary = randomBytes(100000, 31);
    writeFile(dir + "/image.bin", binary);
    ASSERT_EQ(system(("cd " + dir + " && " + command).c_str()), 0) << command;
    Transfer t = runTransfer(dir, {"-P", password, "-NE", "-T", "M", "-f", "image.hex"},
                             {"-P", password});
    EXPECT_EQ(t.loader.status, 1) << t.loader.output;
    EXPECT_EQ(withoutDebugLines(t.loader.output), cleanRun(0, static_cast<unsigned>(pagesOf(binary.size()))));
    EXPECT_EQ(t.sim.status, 0) << t.sim.output;
    EXPECT_EQ(t.received, padded(binary, pagesOf(binary.size())));
}

TEST(TransferEndToEnd, ObjcopyHexArrivesByteForByte)
{
    sendToolchainHex("objcopy", "objcopy -I binary -O ihex image.bin image.hex");
}

TEST(TransferEndToEnd, SrecCatHexArrivesByteForByte)
{
    sendToolchainHex("srec_cat", "srec_cat image.bin -binary -o image.hex -intel");
}
