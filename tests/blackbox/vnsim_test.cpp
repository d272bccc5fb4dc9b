// VNsim driven by a scripted loader: the test sends the packets from a UDP
// socket of its own, so every check and every injected fault shows in the
// raw replies.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "image/crc16.h"
#include "package/des.h"
#include "programs.h"
#include "usage_docs.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

const std::string password = "pw";
const std::string key = "k3y!";
constexpr int PAGE = 256;

void sendToSim(int fd, const Bytes& packet)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(69);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

// The next datagram, or false when none came in time.
bool receive(int fd, Bytes* got, int timeoutMs)
{
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0)
        return false;
    got->assign(65536, 0);
    ssize_t n = recv(fd, got->data(), got->size(), 0);
    got->resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return true;
}

// Sends a packet and returns the one reply it gets (empty when none).
Bytes roundTrip(int fd, const Bytes& packet)
{
    sendToSim(fd, packet);
    Bytes reply;
    receive(fd, &reply, startupMs());
    return reply;
}

void put16(Bytes& bytes, std::size_t at, unsigned value)
{
    bytes[at] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

Bytes packetHeader(std::uint8_t opcode, std::uint8_t countOrType, std::uint8_t flags,
                   unsigned startPage, const std::string& pw = password)
{
    // Room for the largest packet up front: growing the vector from 23 bytes
    // draws a false -Warray-bounds from GCC 12 at -O3.
    Bytes packet;
    packet.reserve(2048);
    packet.resize(23, 0);
    packet[0] = opcode;
    packet[1] = countOrType;
    packet[2] = flags;
    put16(packet, 3, startPage);
    std::memcpy(packet.data() + 5, pw.data(), pw.size() < 16 ? pw.size() : 16);
    put16(packet, 21, 16);
    return packet;
}

// A code-update packet: pages from `data` (zeros past its end), after the
// page header when one is given.
Bytes codeUpdate(unsigned startPage, int count, std::uint8_t flags, const Bytes& data,
                 std::size_t from, const Bytes& pageHeader = {})
{
    Bytes packet = packetHeader(5, static_cast<std::uint8_t>(count), flags, startPage);
    packet.insert(packet.end(), pageHeader.begin(), pageHeader.end());
    for (std::size_t i = 0; i < 1024; ++i)
        packet.push_back(from + i < data.size() ? data[from + i] : 0);
    return packet;
}

Bytes finish(std::uint8_t type, std::uint8_t flags, unsigned first, unsigned end, unsigned crc)
{
    Bytes packet = packetHeader(6, type, flags, 0);
    packet.resize(29, 0);
    put16(packet, 23, first);
    put16(packet, 25, end);
    put16(packet, 27, crc);
    return packet;
}

Bytes reply(std::uint8_t code, std::uint8_t reason, unsigned page)
{
    Bytes r(23, 0);
    r[0] = code;
    r[1] = reason;
    put16(r, 3, page);
    return r;
}

Bytes ack(unsigned page)
{
    return reply(1, 0, page);
}

Bytes nack(std::uint8_t reason, unsigned page)
{
    return reply(2, reason, page);
}

std::uint16_t crcOf(const Bytes& bytes, std::size_t length)
{
    return updateCrc16(bytes.data(), static_cast<std::uint32_t>(length));
}

RunningProgram startSim(std::vector<std::string> args)
{
    RunningProgram sim = startProgram("VNsim", args);
    EXPECT_TRUE(waitForOutput(sim, "VNsim: listening on 127.0.0.1:69\n", startupMs()))
        << sim.output;
    return sim;
}

// A package body as the package writer builds it: page header, padded
// image, the first `enciphered` bytes DES-CBC enciphered under the key.
Bytes packageBody(const Bytes& source, std::size_t enciphered)
{
    std::size_t pages = (source.size() + PAGE - 1) / PAGE;
    Bytes body(8 + (pages == 0 ? 1 : pages) * PAGE, 0);
    std::copy(source.begin(), source.end(), body.begin() + 8);
    put16(body, 0, static_cast<unsigned>(source.size() & 0xFFFF));
    put16(body, 2, crcOf(Bytes(body.begin() + 8, body.end()), body.size() - 8));
    for (std::size_t i = 4; i < 8 && i < source.size(); ++i)
        body[i] = source[i];
    std::uint8_t keyBytes[8] = {};
    std::memcpy(keyBytes, key.data(), key.size());
    std::uint8_t previous[8];
    std::memcpy(previous, cbcInitVector, 8);
    for (std::size_t at = 0; at < enciphered && at < body.size(); at += 8) {
        for (int i = 0; i < 8; ++i)
            body[at + i] ^= previous[i];
        desBlock(&body[at], &body[at], keyBytes, 1);
        std::memcpy(previous, &body[at], 8);
    }
    return body;
}
}  // namespace

TEST(VNsimCommandLine, UsageIdleLimitAndPortInUse)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string firstLine;
        std::string summary = "";
    };
    const Case cases[] = {
        {{"-x"}, 2, "VNsim: unknown option: -x"},
        {{"-P"}, 2, "VNsim: -P needs a value"},
        {{"-n", "0"}, 2, "VNsim: bad argument: -n 0"},
        {{"--nack-at", "4"}, 2, "VNsim: bad argument: --nack-at 4"},
        {{"--reply-length", "24@page"}, 2, "VNsim: bad argument: --reply-length 24@page"},
        {{"-a", "no.such.address"}, 2, "VNsim: bad argument: -a no.such.address"},
        {{"--help"}, 0, "usage: VNsim [options]"},
        {{"--idle-ms", "300"}, 4, "VNsim: listening on 127.0.0.1:69",
         "VNsim: no pages received, no finish packet (idle for 300 ms)"},
    };
    for (const Case& c : cases) {
        ProgramResult r = runProgram("VNsim", c.args, startupMs());
        EXPECT_EQ(r.status, c.status) << c.args[0] << "\n" << r.output;
        // Usage errors on standard error, the asked-for usage and the data on
        // standard output.
        const std::string& said = c.status == 2 ? r.errors : r.output;
        EXPECT_EQ(said.rfind(c.firstLine, 0), 0u) << said;
        if (c.status == 2 || c.status == 0) {
            EXPECT_NE(said.find("usage: VNsim [options]\n"), std::string::npos) << said;
            EXPECT_NE(said.find("  --reply-length <n>@<page>  "), std::string::npos);
            EXPECT_NE(said.find("Exit status:\n  0  "), std::string::npos);
        }
        if (!c.summary.empty()) {
            EXPECT_EQ(lastLine(r.output), c.summary);
        }
    }

    // The port is taken by the first copy.
    RunningProgram first = startSim({});
    ProgramResult second = runProgram("VNsim", {}, startupMs());
    EXPECT_EQ(second.status, 3) << second.output;
    EXPECT_EQ(second.errors.rfind("VNsim: cannot bind 127.0.0.1:69: ", 0), 0u) << second.errors;
    stopProgram(first);
}

TEST(VNsimSession, PlainImageIsKeptByPageNumberAndReported)
{
    std::string dir = makeTempDir();
    std::string out = dir + "/out.bin";
    Bytes image = randomBytes(5 * PAGE, 1);
    int debug = udpSocket("127.0.0.1", 9029);
    RunningProgram sim = startSim({"-P", password, "-o", out});
    int loader = udpSocket("127.0.0.1", 0);

    // Out of order and once more: the pages land by their numbers.
    EXPECT_EQ(roundTrip(loader, codeUpdate(1431, 1, 0x00, image, 4 * PAGE)), ack(1431));
    EXPECT_EQ(roundTrip(loader, codeUpdate(1427, 4, 0x00, image, 0)), ack(1427));
    EXPECT_EQ(roundTrip(loader, codeUpdate(1427, 4, 0x00, image, 0)), ack(1427));
    EXPECT_EQ(roundTrip(loader, finish(12, 0x00, 1427, 1432, crcOf(image, image.size()))), ack(0));

    ProgramResult r = finishProgram(sim, startupMs());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readFile(out), image);
    EXPECT_NE(r.output.find("\ncode update 1431 to 1431, 1 page, flags 0x00, 1047 bytes: ack 1431\n"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("\ncode update 1427 to 1430, 4 pages, flags 0x00, 1047 bytes, again: "
                            "ack 1427\n"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("\nfinish java (type 12), flags 0x00, 29 bytes, pages 1427 to 1431, crc "),
              std::string::npos)
        << r.output;
    EXPECT_EQ(lastLine(r.output),
              "VNsim: 5 pages received (1427 to 1431), crc ok, image written to " + out);

    Bytes message;
    ASSERT_TRUE(receive(debug, &message, startupMs()));
    EXPECT_EQ(std::string(message.begin(), message.end()), "update started");
    ASSERT_TRUE(receive(debug, &message, startupMs()));
    EXPECT_EQ(std::string(message.begin(), message.end()), "update finished, crc ok");
    close(loader);
    close(debug);
}

TEST(VNsimSession, PackagedImageIsDecipheredAndItsPageHeaderChecked)
{
    const Bytes source = randomBytes(1500, 2);  // 6 pages padded
    const Bytes partial = packageBody(source, 1032);
    const Bytes whole = packageBody(source, 100000);
    Bytes padded(source);
    padded.resize(6 * PAGE, 0);

    struct Case {
        const char* name;
        const Bytes& body;
        std::uint8_t laterFlags;
        unsigned pagesSent;  // one more than the body holds: the page header tells
        std::vector<std::string> keyArgs;
        Bytes written;
        Bytes finishReply;
        int status;
        std::string summaryEnd;
    };
    const Case cases[] = {
        {"partly enciphered", partial, 0x00, 6, {"-K", key}, padded, ack(0), 0,
         "crc ok, page header crc ok, image written to "},
        {"wholly enciphered", whole, 0x01, 6, {"-K", key}, padded, ack(0), 0,
         "crc ok, page header crc ok, image written to "},
        {"page beyond the image", whole, 0x01, 7, {"-K", key}, padded, ack(0), 0,
         "crc ok, page header crc ok, image written to "},
        {"no key", partial, 0x00, 6, {}, Bytes(partial.begin() + 8, partial.end()), ack(0), 0,
         "crc ok, page header not checked (no key), image written to "},
        {"wrong key", partial, 0x00, 6, {"-K", "other"}, {}, nack(6, 0), 1,
         "crc ok, page header crc bad, no image written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = makeTempDir() + "/out.bin";
        std::vector<std::string> args{"-P", password, "-o", out};
        args.insert(args.end(), c.keyArgs.begin(), c.keyArgs.end());
        RunningProgram sim = startSim(args);
        int loader = udpSocket("127.0.0.1", 0);

        Bytes stream(c.body);
        stream.resize(8 + c.pagesSent * PAGE, 0);
        Bytes pageHeader(stream.begin(), stream.begin() + 8);
        EXPECT_EQ(roundTrip(loader, codeUpdate(0, 4, 0x81, stream, 8, pageHeader)), ack(0));
        EXPECT_EQ(roundTrip(loader, codeUpdate(4, static_cast<int>(c.pagesSent) - 4, c.laterFlags,
                                              stream, 8 + 4 * PAGE)),
                  ack(4));
        EXPECT_EQ(roundTrip(loader, finish(9, 0x01, 0, c.pagesSent, crcOf(stream, c.pagesSent * PAGE))),
                  c.finishReply);

        ProgramResult r = finishProgram(sim, startupMs());
        EXPECT_EQ(r.status, c.status) << r.output;
        std::string summary = lastLine(r.output);
        EXPECT_NE(summary.find(c.written.empty() ? c.summaryEnd : c.summaryEnd + out),
                  std::string::npos)
            << summary;
        if (!c.written.empty()) {
            EXPECT_EQ(readFile(out), c.written);
        }
        close(loader);
    }
}

TEST(VNsimChecks, BadPacketsAreRefusedAndAWrongPasswordEndsTheRun)
{
    RunningProgram sim = startSim({"-P", password});
    int loader = udpSocket("127.0.0.1", 0);
    Bytes data = randomBytes(1024, 3);

    Bytes wrongOpcode = codeUpdate(7, 4, 0x00, data, 0);
    wrongOpcode[0] = 3;
    Bytes shortPacket = codeUpdate(8, 4, 0x00, data, 0);
    shortPacket.pop_back();
    Bytes badFixedWord = codeUpdate(12, 4, 0x00, data, 0);
    badFixedWord[21] = 17;
    Bytes garbledPassword = codeUpdate(16, 4, 0x00, data, 0);
    garbledPassword[12] = 'x';  // after the terminator of "pw"
    struct Case {
        Bytes packet;
        Bytes expected;
        std::string line;
    };
    const Case cases[] = {
        {wrongOpcode, nack(5, 7), "datagram of 1047 bytes, opcode 3, not a code-update or finish packet: nack 5"},
        {Bytes(4, 5), nack(5, 0), "datagram of 4 bytes, opcode 5, shorter than a packet header: nack 5"},
        {shortPacket, nack(5, 8), ", 1046 bytes, length 1046, wanted 1047: nack 5"},
        {codeUpdate(9, 4, 0x80, data, 0), nack(5, 9), ", 1047 bytes, length 1047, wanted 1055: nack 5"},
        {codeUpdate(10, 0, 0x00, data, 0), nack(5, 10), ", pageCount 0, wanted 1 to 4: nack 5"},
        {codeUpdate(11, 5, 0x00, data, 0), nack(5, 11), ", pageCount 5, wanted 1 to 4: nack 5"},
        {codeUpdate(11, 4, 0x02, data, 0), nack(5, 11), ", unknown flag bits: nack 5"},
        {badFixedWord, nack(5, 12), ", fixedWord 17, wanted 16: nack 5"},
        {codeUpdate(65534, 4, 0x00, data, 0), nack(5, 65534), ", pages beyond 65535: nack 5"},
        {garbledPassword, nack(4, 16), ", wrong Set Password \"pw\": nack 4"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(roundTrip(loader, c.packet), c.expected) << c.line;

    ProgramResult r = finishProgram(sim, startupMs());
    EXPECT_EQ(r.status, 1) << r.output;
    for (const Case& c : cases)
        EXPECT_NE(r.output.find(c.line + "\n"), std::string::npos) << c.line << "\n" << r.output;
    EXPECT_EQ(lastLine(r.output),
              "VNsim: no pages received, no finish packet (stopped after nack 4), 10 checks failed "
              "(first: datagram: not a code-update or finish packet)");
    close(loader);
}

TEST(VNsimChecks, FinishPacketIsCheckedAgainstThePagesReceived)
{
    Bytes image = randomBytes(2 * PAGE, 4);
    std::uint16_t crc = crcOf(image, image.size());
    Bytes longFinish = finish(13, 0x00, 1027, 1029, crc);
    longFinish.push_back(0);
    struct Case {
        const char* name;
        Bytes packet;
        Bytes expected;
        std::string summaryEnd;
    };
    const Case cases[] = {
        {"bad crc", finish(13, 0x00, 1027, 1029, crc ^ 1u), nack(6, 0), ", crc bad, 1 check failed (first: finish: crc 0x"},
        {"page missing", finish(13, 0x00, 1027, 1030, crc), nack(6, 0), ", 1 page missing, 1 check failed (first: finish: 1 page missing)"},
        {"range of another type", finish(12, 0x00, 1027, 1029, crc), nack(5, 0), ", finish packet refused, 1 check failed (first: finish: not within the java pages 1427 to 1554)"},
        {"unknown type", finish(14, 0x00, 1027, 1029, crc), nack(5, 0), ", 1 check failed (first: finish: finishType 14, wanted 9 to 13)"},
        {"too long", longFinish, nack(5, 0), ", 1 check failed (first: finish: length 30, wanted 29)"},
        {"packaged flag without a page header", finish(13, 0x01, 1027, 1029, crc), nack(6, 0), ", crc ok, 1 check failed (first: finish: flags 0x01, but no page header arrived)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunningProgram sim = startSim({});
        int loader = udpSocket("127.0.0.1", 0);
        EXPECT_EQ(roundTrip(loader, codeUpdate(1027, 2, 0x00, image, 0)), ack(1027));
        EXPECT_EQ(roundTrip(loader, c.packet), c.expected);
        ProgramResult r = finishProgram(sim, startupMs());
        EXPECT_EQ(r.status, 1) << r.output;
        std::string summary = lastLine(r.output);
        EXPECT_NE(summary.find(c.summaryEnd), std::string::npos) << summary;
        close(loader);
    }
}

TEST(VNsimFaults, RepliesFollowTheFaultOptionsOnce)
{
    RunningProgram sim = startSim({"--drop", "1", "--dup-at", "4", "--wrong-page-at", "8",
                                   "--reply-length", "24@12", "--reply-length", "5@finish",
                                   "--nack-at", "16:5", "--nack-at", "finish:6"});
    int loader = udpSocket("127.0.0.1", 0);
    Bytes image = randomBytes(20 * PAGE, 5);
    Bytes got;

    sendToSim(loader, codeUpdate(0, 4, 0x00, image, 0));
    EXPECT_FALSE(receive(loader, &got, 300)) << "the first reply is dropped";
    EXPECT_EQ(roundTrip(loader, codeUpdate(0, 4, 0x00, image, 0)), ack(0));
    EXPECT_EQ(roundTrip(loader, codeUpdate(4, 4, 0x00, image, 4 * PAGE)), ack(4));
    ASSERT_TRUE(receive(loader, &got, startupMs()));
    EXPECT_EQ(got, ack(4)) << "answered twice";
    EXPECT_EQ(roundTrip(loader, codeUpdate(8, 4, 0x00, image, 8 * PAGE)), ack(9));
    EXPECT_EQ(roundTrip(loader, codeUpdate(8, 4, 0x00, image, 8 * PAGE)), ack(8));
    Bytes longAck = ack(12);
    longAck.push_back(0);
    EXPECT_EQ(roundTrip(loader, codeUpdate(12, 4, 0x00, image, 12 * PAGE)), longAck);
    EXPECT_EQ(roundTrip(loader, codeUpdate(12, 4, 0x00, image, 12 * PAGE)), ack(12));
    EXPECT_EQ(roundTrip(loader, codeUpdate(16, 4, 0x00, image, 16 * PAGE)), nack(5, 16));
    EXPECT_EQ(roundTrip(loader, codeUpdate(16, 4, 0x00, image, 16 * PAGE)), ack(16));
    // Both finish faults act on the one finish packet.
    Bytes shortNack = nack(6, 0);
    shortNack.resize(5);
    EXPECT_EQ(roundTrip(loader, finish(9, 0x00, 0, 20, crcOf(image, image.size()))), shortNack);
    EXPECT_FALSE(receive(loader, &got, 300));

    ProgramResult r = finishProgram(sim, startupMs());
    EXPECT_EQ(r.status, 1) << "a refused finish packet updates nothing\n" << r.output;
    for (const char* line : {"1047 bytes: no reply (dropped, 1 of 1)\n", "1047 bytes: ack 4, sent twice (injected)\n",
                             "1047 bytes: ack 9 (wrong page, injected)\n",
                             "1047 bytes: ack 12 as 24 bytes (injected)\n",
                             "1047 bytes: nack 5 (injected)\n",
                             ", crc 0x", "ok: nack 6 (injected) as 5 bytes (injected)\n"})
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
    EXPECT_EQ(lastLine(r.output), "VNsim: 20 pages received (0 to 19), crc ok, 1 check failed "
                                  "(first: finish: refused (injected nack 6))");
    close(loader);
}

TEST(VNsimLimits, PacketCountAndFatalRefusalEndTheRunWithoutFinish)
{
    Bytes image = randomBytes(8 * PAGE, 6);
    struct Case {
        std::vector<std::string> args;
        int packets;
        std::string summary;
    };
    const Case cases[] = {
        {{"-n", "2"}, 2, "VNsim: 8 pages received (0 to 7), no finish packet (stopped after 2 packets)"},
        {{"--nack-at", "0:8"}, 1, "VNsim: 4 pages received (0 to 3), no finish packet (stopped after nack 8)"},
    };
    for (const Case& c : cases) {
        RunningProgram sim = startSim(c.args);
        int loader = udpSocket("127.0.0.1", 0);
        for (int i = 0; i < c.packets; ++i)
            EXPECT_FALSE(roundTrip(loader, codeUpdate(4 * i, 4, 0x00, image, 4 * PAGE * i)).empty());
        ProgramResult r = finishProgram(sim, startupMs());
        EXPECT_EQ(r.status, 4) << r.output;
        EXPECT_EQ(lastLine(r.output), c.summary);
        close(loader);
    }
}

TEST(VNsimChecks, PacketsMustFitTheFinishPacket)
{
    Bytes image = randomBytes(9 * PAGE, 7);
    Bytes pageHeader(image.begin(), image.begin() + 8);
    std::uint16_t crc2 = crcOf(image, 2 * PAGE);
    struct Case {
        const char* name;
        std::vector<Bytes> packets;
        Bytes finishPacket;
        std::string failure;
    };
    const Case cases[] = {
        {"page outside the range",
         {codeUpdate(1027, 2, 0x00, image, 0), codeUpdate(1031, 1, 0x00, image, 0)},
         finish(13, 0x00, 1027, 1029, crc2), "packet 1031 outside the finish range 1027 to 1028"},
        {"short pageCount",
         {codeUpdate(1027, 1, 0x00, image, 0), codeUpdate(1028, 1, 0x00, image, PAGE)},
         finish(13, 0x00, 1027, 1029, crc2), "packet 1027 pageCount 1, wanted 2"},
        {"enciphered flag in a plain image", {codeUpdate(1027, 2, 0x01, image, 0)},
         finish(13, 0x00, 1027, 1029, crc2), "packet 1027 flagged enciphered in a plain image"},
        {"later flags disagree",
         {codeUpdate(0, 4, 0x81, image, 8, pageHeader), codeUpdate(4, 4, 0x00, image, 8 + 4 * PAGE),
          codeUpdate(8, 1, 0x01, image, 8 + 8 * PAGE)},
         finish(9, 0x01, 0, 9, crcOf(image, 9 * PAGE)), "packet 8 flags 0x01, packet 4 0x00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunningProgram sim = startSim({});
        int loader = udpSocket("127.0.0.1", 0);
        for (const Bytes& packet : c.packets)
            EXPECT_EQ(roundTrip(loader, packet)[0], 1);
        EXPECT_EQ(roundTrip(loader, c.finishPacket), nack(6, 0));
        ProgramResult r = finishProgram(sim, startupMs());
        EXPECT_EQ(r.status, 1) << r.output;
        std::string summary = lastLine(r.output);
        EXPECT_NE(summary.find("1 check failed (first: finish: " + c.failure + ")"),
                  std::string::npos)
            << summary;
        close(loader);
    }
}

TEST(VNsimCommandLine, ReadmeAndManualListTheOptionsAndStatusesOfHelp)
{
    expectDocsListWhatHelpLists(runProgram("VNsim", {"--help"}, startupMs()).output,
                                "## Rehearsing an update against VNsim", "man/VNsim.1");
}
