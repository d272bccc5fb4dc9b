#include "app/update_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "diag/console_capture.h"
#include "diag/log.h"
#include "image/crc16.h"
#include "image/image_buffer.h"
#include "link/packets.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

// One answer of the scripted device, consumed by one wait.
struct Step {
    enum Kind { Timeout, WaitFailed, ReceiveFailed, Datagram } kind;
    Bytes datagram;
    bool queued = false;  // already at the socket when the transfer drains it
};

Step timeout()
{
    return Step{Step::Timeout, {}};
}

Step reply(std::uint8_t code, std::uint8_t reason, std::uint16_t page, std::size_t length = 23)
{
    Bytes d(length, 0);
    d[0] = code;
    if (length > 1)
        d[1] = reason;
    if (length > 4)
        putU16(d.data() + 3, page);
    return Step{Step::Datagram, d, false};
}

Step queued(Step step)
{
    step.queued = true;
    return step;
}

Step ack(std::uint16_t page)
{
    return reply(TFTP_ACK, 0, page);
}

Step nack(std::uint8_t reason, std::uint16_t page)
{
    return reply(TFTP_NACK, reason, page);
}

// Records every datagram sent; answers from its script, then acknowledges
// whatever packet is outstanding.
struct FakeDevice {
    std::vector<Bytes> sent;
    std::deque<Step> script;
    int failSendAt = -1;
    Step current;
    int lastTimeoutMs = -1;
    int drained = 0;
};

int fakeSend(void* context, const std::uint8_t* data, int length)
{
    auto* device = static_cast<FakeDevice*>(context);
    device->sent.emplace_back(data, data + length);
    // A runaway resend loop ends the test instead of hanging it.
    if (static_cast<int>(device->sent.size()) - 1 == device->failSendAt ||
        device->sent.size() > 5000)
        return -1;
    return length;
}

int fakeWait(void* context, int timeoutMs)
{
    auto* device = static_cast<FakeDevice*>(context);
    device->lastTimeoutMs = timeoutMs;
    if (device->script.empty()) {
        device->current = ack(getU16(device->sent.back().data() + OFF_START_PAGE));
    } else {
        device->current = device->script.front();
        device->script.pop_front();
    }
    if (device->current.kind == Step::Timeout)
        return 0;
    return device->current.kind == Step::WaitFailed ? -1 : 1;
}

int fakeReceive(void* context, std::uint8_t* buffer, int size)
{
    auto* device = static_cast<FakeDevice*>(context);
    if (device->current.kind == Step::ReceiveFailed)
        return -1;
    const Bytes& d = device->current.datagram;
    std::copy(d.begin(), d.begin() + std::min<std::ptrdiff_t>(size, d.size()), buffer);
    return static_cast<int>(d.size());
}

int fakeDrain(void* context)
{
    auto* device = static_cast<FakeDevice*>(context);
    int dropped = 0;
    while (!device->script.empty() && device->script.front().queued) {
        device->script.pop_front();
        ++dropped;
    }
    device->drained += dropped;
    return dropped;
}

int noPendingError()
{
    return 0;
}
int noSystemText(int, char*, std::size_t)
{
    return -1;
}
const ErrorSource quietErrors{noPendingError, noSystemText};

void fillPattern()
{
    for (std::uint32_t i = 0; i < IMAGE_BUFFER_SIZE; ++i)
        imageBuffer[i] = static_cast<std::uint8_t>(i * 13 + (i >> 8) + 1);
}

Bytes imageBytes(std::uint32_t from, std::uint32_t count)
{
    return Bytes(imageBuffer + from, imageBuffer + from + count);
}

// Comparable and printable in test failures.
std::pair<int, int> pairOf(TransferOutcome outcome)
{
    return {outcome.result, outcome.exitStatus};
}

struct TransferTest : ::testing::Test {
    FakeDevice device;
    ConsoleCapture console;
    UpdateLink link{&device, fakeSend, fakeWait, fakeReceive, 0, fakeDrain};

    void SetUp() override
    {
        resetSettings();
        std::strcpy(settings.setPassword, "pw");
        std::strcpy(settings.fileName, "image.bin");
        std::memset(imageBuffer, 0, IMAGE_BUFFER_SIZE);
        setErrorSource(&quietErrors);
    }
    void TearDown() override { setErrorSource(nullptr); }

    void load(bool packaged, int fileType, std::uint32_t minAddress, std::uint32_t maxAddress)
    {
        settings.packagedInput = packaged ? 1 : 0;
        settings.fileType = static_cast<std::uint8_t>(fileType);
        nMinHexAddress = minAddress;
        nMaxHexAddress = maxAddress;
    }
    TransferOutcome run() { return transferFile(&link, settings.fileType); }

    std::vector<Bytes> codePackets() const
    {
        std::vector<Bytes> packets;
        for (const Bytes& d : device.sent)
            if (d[0] == TFTP_CODE_UPDATE)
                packets.push_back(d);
        return packets;
    }
    Bytes payload(std::size_t index) const
    {
        const Bytes& d = device.sent.at(index);
        return Bytes(d.begin() + OFF_PAYLOAD, d.end());
    }
};

// --- Page ranges -----------------------------------------------------------

struct PacketShape {
    int startPage;
    int pageCount;
    int length;
};

struct RangeCase {
    const char* name;
    bool packaged;
    int fileType;
    std::uint32_t minAddress, maxAddress;
    int firstPage, endPage, packetCount;
    std::vector<PacketShape> packets;  // listed in full where short
};

TEST_F(TransferTest, PageRanges)
{
    const RangeCase cases[] = {
        {"packaged main 1288", true, 2, 0, 1288, 0, 5, 2, {{0, 4, 1055}, {4, 1, 1047}}},
        {"plain main 0x101", false, 2, 0, 0x101, 0, 2, 1, {{0, 2, 1047}}},
        {"plain java 1002", false, 5, 0, 1002, 1427, 1431, 1, {{1427, 4, 1047}}},
        {"packaged java 265", true, 5, 0, 265, 1427, 1429, 1, {{1427, 2, 1055}}},
        {"plain dsp words 0x10-0x14", false, 3, 0x10, 0x14, 1571, 1572, 1, {{1571, 1, 1047}}},
        {"plain dsp S=25596", false, 3, 0, 12796, 1571, 1671, 25, {}},
        {"packaged dsp S=25599", true, 3, 0, 25599, 1571, 1671, 25, {}},
        {"packaged dsp 264", true, 3, 0, 264, 1571, 1573, 1, {{1571, 2, 1055}}},
        {"packaged main 8", true, 2, 0, 8, 0, 0, 0, {}},
        {"plain main empty", false, 2, 0x40, 0x40, 0, 0, 0, {}},
        {"packaged logo 10",
         true, 4, 0, 10, 1555, 1571, 4,
         {{1555, 4, 1055}, {1559, 4, 1047}, {1563, 4, 1047}, {1567, 4, 1047}}},
        {"plain logo 4096", false, 4, 0, 4096, 1555, 1571, 4, {}},
        {"packaged html 20000", true, 6, 0, 20000, 1027, 1427, 100, {}},
        {"plain html 1", false, 6, 0, 1, 1027, 1427, 100, {}},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        device = FakeDevice{};
        load(c.packaged, c.fileType, c.minAddress, c.maxAddress);
        EXPECT_EQ(pairOf(run()), pairOf({TRANSFER_COMPLETED, 1}));

        std::vector<Bytes> packets = codePackets();
        ASSERT_EQ(static_cast<int>(packets.size()), c.packetCount);
        ASSERT_EQ(device.sent.size(), packets.size() + 1);
        // Consecutive packets, four pages each but the last.
        for (int i = 0; i < c.packetCount; ++i) {
            int start = c.firstPage + 4 * i;
            EXPECT_EQ(getU16(packets[i].data() + OFF_START_PAGE), start);
            EXPECT_EQ(packets[i][OFF_COUNT_OR_TYPE], std::min(4, c.endPage - start));
            EXPECT_EQ(packets[i].size(), (i == 0 && c.packaged) ? 1055u : 1047u);
        }
        for (std::size_t i = 0; i < c.packets.size(); ++i) {
            EXPECT_EQ(getU16(packets[i].data() + OFF_START_PAGE), c.packets[i].startPage);
            EXPECT_EQ(packets[i][OFF_COUNT_OR_TYPE], c.packets[i].pageCount);
            EXPECT_EQ(static_cast<int>(packets[i].size()), c.packets[i].length);
        }
        const Bytes& finish = device.sent.back();
        ASSERT_EQ(finish.size(), 29u);
        EXPECT_EQ(finish[OFF_OPCODE], TFTP_FINISH);
        EXPECT_EQ(finish[OFF_COUNT_OR_TYPE], c.fileType + 7);
        EXPECT_EQ(getU16(finish.data() + OFF_START_PAGE), 0);
        EXPECT_EQ(getU16(finish.data() + OFF_FIRST_PAGE), c.firstPage);
        EXPECT_EQ(getU16(finish.data() + OFF_END_PAGE), c.endPage);
    }
}

TEST_F(TransferTest, PlainDspBoundsBecomeByteOffsets)
{
    fillPattern();
    load(false, 3, 0x10, 0x14);
    run();
    EXPECT_EQ(nMinHexAddress, 0x20u);
    EXPECT_EQ(nMaxHexAddress, 0x2Cu);
    EXPECT_EQ(payload(0), imageBytes(0x20, 1024));
    // One page is sent, so the CRC spans 256 bytes from the image start.
    EXPECT_EQ(getU16(device.sent.back().data() + OFF_IMAGE_CRC),
              updateCrc16(imageBuffer + 0x20, 256));
}

struct RefusalCase {
    const char* name;
    bool packaged;
    int fileType;
    std::uint32_t minAddress, maxAddress;
    const char* message;
    int status;
};

TEST_F(TransferTest, UnsendableImagesEndBeforeAnythingIsSent)
{
    const char* noData = "Nothing to send: image.bin holds no image data\n";
    const char* tooLarge = "DSP code size exceeds allotment. dspLastPage:1672\n";
    const RefusalCase cases[] = {
        {"packaged dsp S=25600", true, 3, 0, 25600, tooLarge, 0},
        {"plain dsp S=25600", false, 3, 0, 12798, tooLarge, 0},
        {"package type 1", true, 1, 0, 2000, "Unknown file type\n", -1},
        {"package type 7", true, 7, 0, 2000, "Unknown file type\n", -1},
        {"hex without data", false, 2, 0x30000, 0, noData, 1},
        {"dsp hex without data", false, 3, 0x30000, 0, noData, 1},
        {"packaged main 7", true, 2, 0, 7, noData, 1},
        {"packaged java 0", true, 5, 0, 0, noData, 1},
        {"plain logo 70002", false, 4, 0, 70002, "Image size exceeds allotment. pages:274 allotment:16\n", 0},
        {"packaged java 129 pages", true, 5, 0, 8 + 129 * 256, "Image size exceeds allotment. pages:129 allotment:128\n", 0},
        {"plain html 102401", false, 6, 0, 102401, "Image size exceeds allotment. pages:401 allotment:400\n", 0},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        device = FakeDevice{};
        console.text().clear();
        load(c.packaged, c.fileType, c.minAddress, c.maxAddress);
        EXPECT_EQ(pairOf(run()), pairOf({TRANSFER_REFUSED, c.status}));
        EXPECT_EQ(console.text(), c.message);
        EXPECT_TRUE(device.sent.empty());
    }
}

// --- Flags and payload -----------------------------------------------------

TEST_F(TransferTest, FlagsFollowTheSettings)
{
    struct Case {
        bool packaged;
        bool partialEncrypt;
        std::uint8_t first, later, finish;
    };
    const Case cases[] = {
        {true, true, 0x81, 0x00, 0x01},
        {true, false, 0x81, 0x01, 0x01},
        {false, true, 0x00, 0x00, 0x00},
        {false, false, 0x00, 0x00, 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.packaged << c.partialEncrypt);
        device = FakeDevice{};
        device.script = {timeout()};  // a resend keeps the flags
        settings.partialEncrypt = c.partialEncrypt ? 1 : 0;
        load(c.packaged, 2, 0, c.packaged ? 8 + 9 * 256 : 9 * 256);
        run();
        ASSERT_EQ(device.sent.size(), 5u);
        EXPECT_EQ(device.sent[0], device.sent[1]);
        EXPECT_EQ(device.sent[0][OFF_FLAGS], c.first);
        EXPECT_EQ(device.sent[2][OFF_FLAGS], c.later);
        EXPECT_EQ(device.sent[3][OFF_FLAGS], c.later);
        EXPECT_EQ(device.sent[4][OFF_FLAGS], c.finish);
    }
}

TEST_F(TransferTest, PacketsTileTheImage)
{
    struct Case {
        const char* name;
        bool packaged;
        std::uint32_t minAddress, maxAddress, base;
    };
    const Case cases[] = {
        {"package", true, 0, 8 + 9 * 256, 0},
        // A package body sits at offset 0 whatever its header's lower bound.
        {"package with lower bound", true, 0x4000, 8 + 9 * 256, 0},
        {"plain from 0x100", false, 0x100, 0x100 + 9 * 256, 0x100},
    };
    fillPattern();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device = FakeDevice{};
        load(c.packaged, 2, c.minAddress, c.maxAddress);
        run();
        ASSERT_EQ(device.sent.size(), 4u);
        std::uint32_t header = c.packaged ? 8 : 0;
        EXPECT_EQ(payload(0), imageBytes(c.base, header + 1024));
        EXPECT_EQ(payload(1), imageBytes(c.base + header + 1024, 1024));
        // The last packet carries one page but a full payload.
        EXPECT_EQ(payload(2), imageBytes(c.base + header + 2048, 1024));
        EXPECT_EQ(getU16(device.sent[3].data() + OFF_IMAGE_CRC),
                  updateCrc16(imageBuffer + c.base, 9 * 256));
    }
}

TEST_F(TransferTest, EightByteBodySendsOnlyTheFinishPacketWithZeroCrc)
{
    fillPattern();
    load(true, 2, 0, 8);
    run();
    ASSERT_EQ(device.sent.size(), 1u);
    EXPECT_EQ(getU16(device.sent[0].data() + OFF_IMAGE_CRC), 0);
}

TEST_F(TransferTest, BytesPastTheBufferEndReadAsZero)
{
    std::memset(imageBuffer, 0xAA, IMAGE_BUFFER_SIZE);
    load(false, 2, IMAGE_BUFFER_SIZE - 128, IMAGE_BUFFER_SIZE);
    run();
    Bytes expected(1024, 0);
    std::fill(expected.begin(), expected.begin() + 128, 0xAA);
    EXPECT_EQ(payload(0), expected);
    expected.resize(256);
    EXPECT_EQ(getU16(device.sent[1].data() + OFF_IMAGE_CRC), updateCrc16(expected.data(), 256));

    // A full package: the last payload runs 8 bytes past the end.
    device = FakeDevice{};
    load(true, 2, 0, IMAGE_BUFFER_SIZE);
    run();
    std::vector<Bytes> packets = codePackets();
    ASSERT_EQ(packets.size(), 192u);
    const Bytes& last = packets.back();
    EXPECT_EQ(getU16(last.data() + OFF_START_PAGE), 764);
    EXPECT_EQ(Bytes(last.end() - 9, last.end()), Bytes({0xAA, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// --- Replies to code-update packets ----------------------------------------

struct ReplyCase {
    const char* name;
    Step answer;
    const char* message;
    TransferOutcome outcome;  // completed: the packet was sent again
};

TEST_F(TransferTest, RepliesToCodeUpdatePacket)
{
    const ReplyCase cases[] = {
        {"timeout", timeout(), "recv timeout retransmitting packet\n\n", {1, 1}},
        {"wait failed", Step{Step::WaitFailed, {}}, "WAIT_FAILED retransmitting packet\n\n",
         {1, 1}},
        {"receive failed", Step{Step::ReceiveFailed, {}},
         "Error recvfrom retransmitting packet\n", {1, 1}},
        {"22 bytes", reply(TFTP_ACK, 0, 1427, 22),
         "Error recvfrom length too short retransmitting packet\n", {1, 1}},
        {"24 bytes", reply(TFTP_ACK, 0, 1427, 24),
         "Wrong receive length from Code Update Packet 1427 wanted 23, got 24\n", {1, 1}},
        {"nack 5", nack(5, 1427), "Received a NACK from packet 1427\n", {1, 1}},
        {"unexpected code", reply(3, 0, 1427),
         "Did not get the correct command expected TFTP_ACK(1), got 3\n", {1, 1}},
        {"ack other page", ack(1423),
         "Received ACK from wrong packet. Wanted packet 1427, got packet 1423\n", {1, 1}},
        {"nack 4", nack(4, 1427), "You entered the wrong Set Password\n", {-1, -1}},
        {"nack 6", nack(6, 1427), "Received bad CRC, exiting\n", {-1, 0}},
        {"nack 8", nack(8, 1427), "Received bad version, exiting\n", {-1, 0}},
    };
    const std::string sendLine = "Sending Code Update pages 1427 to 1430\n";
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        device = FakeDevice{};
        device.script = {c.answer};
        console.text().clear();
        load(false, 5, 0, 1002);
        EXPECT_EQ(pairOf(run()), pairOf(c.outcome));
        if (c.outcome.result == TRANSFER_COMPLETED) {
            EXPECT_EQ(console.text(), sendLine + c.message + sendLine + "File Transfered\n");
            ASSERT_EQ(device.sent.size(), 3u);
            EXPECT_EQ(device.sent[0], device.sent[1]);
        } else {
            EXPECT_EQ(console.text(), sendLine + c.message);
            EXPECT_EQ(device.sent.size(), 1u);
        }
    }
}

TEST_F(TransferTest, AckOnlyLooksAtCodeAndPage)
{
    Step answer = ack(1427);
    std::fill(answer.datagram.begin() + 5, answer.datagram.end(), 0xFF);
    answer.datagram[1] = NACK_BAD_CRC;
    answer.datagram[2] = 0xFF;
    device.script = {answer};
    load(false, 5, 0, 1002);
    EXPECT_EQ(pairOf(run()), pairOf({1, 1}));
    EXPECT_EQ(device.sent.size(), 2u);
}

TEST_F(TransferTest, LateAckForPreviousPacketResendsCurrent)
{
    device.script = {ack(0), ack(0)};
    load(false, 2, 0, 0x500);
    EXPECT_EQ(pairOf(run()), pairOf({1, 1}));
    EXPECT_EQ(console.text(),
              "Sending Code Update pages 0 to 3\n"
              "Sending Code Update pages 4 to 4\n"
              "Received ACK from wrong packet. Wanted packet 4, got packet 0\n"
              "Sending Code Update pages 4 to 4\n"
              "File Transfered\n");
    ASSERT_EQ(device.sent.size(), 4u);
    EXPECT_EQ(device.sent[1], device.sent[2]);
}

// --- Replies to the finish packet ------------------------------------------

// Packets 0 and 4; the duplicated ACK 0 puts the transfer one reply behind,
// so packet 4 is answered twice and the finish packet's refusal comes last.
TEST_F(TransferTest, FinishVerdictIsNotHiddenBehindALateAck)
{
    const std::string behind = "Sending Code Update pages 0 to 3\n"
                               "Sending Code Update pages 4 to 4\n"
                               "Received ACK from wrong packet. Wanted packet 4, got packet 0\n"
                               "Sending Code Update pages 4 to 4\n";
    struct Case {
        const char* name;
        std::deque<Step> answers;  // after ack(0), ack(0), ack(4)
        std::string said;
        TransferOutcome outcome;
        int drained;
    };
    const Case cases[] = {
        {"queued before the finish", {queued(ack(4)), nack(6, 0)}, "Received bad CRC, exiting\n",
         {-1, 0}, 1},
        {"arriving after the finish", {ack(4), nack(6, 0)}, "Received bad CRC, exiting\n", {-1, 0},
         0},
        {"then silence", {ack(4), timeout()},
         "recv timeout retransmitting packet\n\nWrong receive length from Code Update Packet 0 "
         "wanted 23, got 0\n",
         {-1, 0}, 0},
        // The finish packet's own number: taken as its answer.
        {"ack 0", {ack(0)}, "File Transfered\n", {1, 1}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device = FakeDevice{};
        device.script = {ack(0), ack(0), ack(4)};
        device.script.insert(device.script.end(), c.answers.begin(), c.answers.end());
        console.text().clear();
        load(false, 2, 0, 0x500);
        EXPECT_EQ(pairOf(run()), pairOf(c.outcome));
        EXPECT_EQ(console.text(), behind + c.said);
        EXPECT_EQ(device.drained, c.drained);
        EXPECT_EQ(device.sent.size(), 4u);
    }
}

// Never behind: whatever ACK answers the finish packet completes the run.
TEST_F(TransferTest, FinishAckOfACodePageCompletesACleanTransfer)
{
    device.script = {ack(0), ack(4), ack(4)};
    load(false, 2, 0, 0x500);
    EXPECT_EQ(pairOf(run()), pairOf({1, 1}));
    EXPECT_EQ(device.sent.size(), 3u);
}

TEST_F(TransferTest, RepliesToFinishPacket)
{
    const char* wrongLength24 =
        "Wrong receive length from Code Update Packet 0 wanted 23, got 24\n";
    const ReplyCase cases[] = {
        {"ack 0", ack(0), "File Transfered\n", {1, 1}},
        {"ack any page", ack(77), "File Transfered\n", {1, 1}},
        {"other code", reply(9, 0, 0), "File Transfered\n", {1, 1}},
        {"nack 4", nack(4, 0), "You entered the wrong Set Password\n", {-1, -1}},
        {"nack 6", nack(6, 0), "Received bad CRC, exiting\n", {-1, 0}},
        {"nack 8", nack(8, 0), "Received bad version, exiting\n", {-1, 0}},
        {"nack 5", nack(5, 3), "Received a NACK from packet 3\n", {-1, 0}},
        {"24 bytes", reply(TFTP_ACK, 0, 0, 24), wrongLength24, {-1, 0}},
        // No usable answer: the finish packet is not repeated.
        {"timeout", timeout(), "recv timeout retransmitting packet\n\nWrong receive length "
                               "from Code Update Packet 0 wanted 23, got 0\n", {-1, 0}},
        {"10 bytes", reply(TFTP_ACK, 0, 0, 10), "Error recvfrom length too short retransmitting "
                                               "packet\nWrong receive length from Code Update "
                                               "Packet 0 wanted 23, got 0\n", {-1, 0}},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        device = FakeDevice{};
        device.script = {c.answer};
        console.text().clear();
        load(true, 2, 0, 8);  // the finish packet alone
        EXPECT_EQ(pairOf(run()), pairOf(c.outcome));
        EXPECT_EQ(console.text(), c.message);
        EXPECT_EQ(device.sent.size(), 1u);
    }
}

TEST_F(TransferTest, FailedSendEndsTheTransfer)
{
    const char* sendFailed = "Sending Code Update pages 1427 to 1430\ntransferFile sendto error\n";
    device.failSendAt = 0;
    load(false, 5, 0, 1002);
    EXPECT_EQ(pairOf(run()), pairOf({TRANSFER_SEND_FAILED, 1}));
    EXPECT_EQ(console.text(), sendFailed);

    device = FakeDevice{};
    device.failSendAt = 1;  // the finish packet
    console.text().clear();
    EXPECT_EQ(pairOf(run()), pairOf({TRANSFER_SEND_FAILED, 1}));
    EXPECT_EQ(console.text(), sendFailed);
}

TEST_F(TransferTest, ReceiveReplyClearsBufferAndWaitsWithLinkTimeout)
{
    device.sent.push_back(Bytes(23, 0));
    link.replyTimeoutMs = 1234;
    std::uint8_t buffer[PACKET_BUFFER_SIZE];
    std::memset(buffer, 0xEE, sizeof buffer);
    device.script = {ack(0x0102)};
    EXPECT_EQ(receiveReply(&link, buffer, PACKET_BUFFER_SIZE), 23);
    EXPECT_EQ(device.lastTimeoutMs, 1234);
    EXPECT_EQ(getU16(buffer + 3), 0x0102);
    EXPECT_EQ(Bytes(buffer + 23, buffer + sizeof buffer), Bytes(sizeof buffer - 23, 0));
}

// --- The whole run from a file ---------------------------------------------

struct RunUpdateTest : TransferTest {
    std::filesystem::path path;

    void SetUp() override
    {
        TransferTest::SetUp();
        const char* test = testing::UnitTest::GetInstance()->current_test_info()->name();
        path = std::filesystem::temp_directory_path() / ("vn_transfer_" + std::string(test));
        std::strcpy(settings.fileName, path.string().c_str());
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        TransferTest::TearDown();
    }
    void write(const Bytes& content)
    {
        std::FILE* f = std::fopen(path.string().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    // A package of the given type whose header says lower bound minAddress.
    Bytes writePackage(std::uint8_t fileType, std::uint32_t minAddress, std::uint32_t bodyLength)
    {
        Bytes body(bodyLength);
        for (std::uint32_t i = 0; i < bodyLength; ++i)
            body[i] = static_cast<std::uint8_t>(i * 5 + 3);
        Bytes file = {PACKAGE_MAGIC, fileType, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        putU16(file.data() + 2, static_cast<std::uint16_t>(minAddress));
        putU16(file.data() + 4, static_cast<std::uint16_t>(minAddress >> 16));
        putU16(file.data() + 6, static_cast<std::uint16_t>(minAddress + bodyLength));
        putU16(file.data() + 10, updateCrc16(body.data(), bodyLength));
        file.insert(file.end(), body.begin(), body.end());
        write(file);
        return body;
    }
};

TEST_F(RunUpdateTest, PackageIsSentFromItsFirstBodyByte)
{
    settings.fileType = TYPE_JAVA;  // the package's own type wins
    Bytes body = writePackage(TYPE_MAIN_HEX, 0x100, 1288);
    EXPECT_EQ(runUpdate(&link), 1);
    EXPECT_EQ(console.text(),
              "Sending the new microcode to the remote system\n"
              "Sending Code Update pages 0 to 3\n"
              "Sending Code Update pages 4 to 4\n"
              "File Transfered\n"
              "Do not remove the power until you get a reply from pinging the device.\n");
    EXPECT_EQ(payload(0), Bytes(body.begin(), body.begin() + 1032));
    EXPECT_EQ(getU16(device.sent.back().data() + OFF_IMAGE_CRC), updateCrc16(body.data(), 1280));
}

TEST_F(RunUpdateTest, StatusesOfEndedRuns)
{
    writePackage(TYPE_MAIN_HEX, 0, 1288);
    device.script = {nack(NACK_BAD_CRC, 0)};
    EXPECT_EQ(runUpdate(&link), 0);
    EXPECT_EQ(console.text(),
              "Sending the new microcode to the remote system\n"
              "Sending Code Update pages 0 to 3\n"
              "Received bad CRC, exiting\n");

    device = FakeDevice{};
    console.text().clear();
    writePackage(7, 0, 1288);
    EXPECT_EQ(runUpdate(&link), -1);
    EXPECT_EQ(console.text(),
              "Sending the new microcode to the remote system\nUnknown file type\n");
    EXPECT_TRUE(device.sent.empty());
}

TEST_F(RunUpdateTest, UnusableInputEndsWithStatusOne)
{
    // Missing file: the loader speaks, nothing is announced or sent.
    EXPECT_EQ(runUpdate(&link), 1);
    EXPECT_EQ(console.text().find("Sending"), std::string::npos);

    // An Intel HEX file without data records.
    console.text().clear();
    const char hex[] = ":00000001FF\r\n";
    write(Bytes(hex, hex + sizeof hex - 1));
    settings.packagedInput = 0;
    settings.fileType = TYPE_MAIN_HEX;
    EXPECT_EQ(runUpdate(&link), 1);
    EXPECT_EQ(console.text(), "Sending the new microcode to the remote system\nNothing to send: " +
                                  path.string() + " holds no image data\n");
    EXPECT_TRUE(device.sent.empty());
}
}  // namespace
