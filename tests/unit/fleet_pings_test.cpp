// VNfleet's echo matching: a device is back on the first echo reply from its
// own address that answers one of its requests, and only once.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fleet_pings.h"
#include "link/echo_packets.h"

namespace {
constexpr std::uint16_t OURS = 0x4242;
constexpr std::uint32_t DEVICE_A = 0x0100007F;  // 127.0.0.1 in network order
constexpr std::uint32_t DEVICE_B = 0x0200007F;
constexpr std::uint32_t STRANGER = 0x0900007F;

std::vector<std::uint8_t> echo(std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence)
{
    std::vector<std::uint8_t> message(64);
    message.resize(static_cast<std::size_t>(
        buildEcho(EchoFields{type, identifier, sequence}, nullptr, 0, message.data(), 64)));
    return message;
}

// A and B waiting, each sent two requests.
PingBook bookOfTwo()
{
    PingBook book{OURS, {}, {}};
    std::uint8_t request[64];
    for (std::uint32_t ip : {DEVICE_A, DEVICE_B}) {
        startWaiting(&book, ip == DEVICE_A ? 0 : 1, ip, 1000, 5000);
        for (int i = 0; i < 2; ++i)
            buildPingRequest(book, &book.waiting[ip], request, 64);
    }
    return book;
}

bool answers(PingBook* book, std::uint32_t from, const std::vector<std::uint8_t>& message,
             std::size_t* device = nullptr)
{
    PingWait back{};
    bool taken = takeEchoReply(book, from, message.data(), static_cast<int>(message.size()), &back);
    if (taken && device)
        *device = back.device;
    return taken;
}
}  // namespace

TEST(FleetEchoMatching, TakesOnlyRepliesToTheDevicesOwnRequests)
{
    struct Case {
        const char* rule;
        std::uint32_t from;
        std::vector<std::uint8_t> message;
        bool back;
    };
    const std::vector<Case> cases = {
        {"a reply to its first request", DEVICE_A, echo(ICMP_ECHO_REPLY, OURS, 1), true},
        {"a reply to its latest request", DEVICE_A, echo(ICMP_ECHO_REPLY, OURS, 2), true},
        {"another process's identifier", DEVICE_A, echo(ICMP_ECHO_REPLY, OURS + 1, 1), false},
        {"a sequence not yet sent", DEVICE_A, echo(ICMP_ECHO_REPLY, OURS, 3), false},
        {"sequence 0 is never sent", DEVICE_A, echo(ICMP_ECHO_REPLY, OURS, 0), false},
        {"an address that waits for nothing", STRANGER, echo(ICMP_ECHO_REPLY, OURS, 1), false},
        {"a request, not a reply", DEVICE_A, echo(ICMP_ECHO_REQUEST, OURS, 1), false},
        {"shorter than an echo header", DEVICE_A, {0, 0, 0, 0, 0x42, 0x42, 0}, false},
    };
    for (const Case& c : cases) {
        PingBook book = bookOfTwo();
        EXPECT_EQ(answers(&book, c.from, c.message), c.back) << c.rule;
        EXPECT_EQ(book.waiting.size(), c.back ? 1u : 2u) << c.rule;
    }
}

TEST(FleetEchoMatching, EachDeviceIsBackOnceByItsOwnAddress)
{
    PingBook book = bookOfTwo();
    std::size_t device = 9;
    EXPECT_TRUE(answers(&book, DEVICE_B, echo(ICMP_ECHO_REPLY, OURS, 1), &device));
    EXPECT_EQ(device, 1u);
    EXPECT_FALSE(answers(&book, DEVICE_B, echo(ICMP_ECHO_REPLY, OURS, 1))) << "a duplicate";
    EXPECT_FALSE(answers(&book, DEVICE_B, echo(ICMP_ECHO_REPLY, OURS, 2))) << "a later reply";
    EXPECT_TRUE(answers(&book, DEVICE_A, echo(ICMP_ECHO_REPLY, OURS, 2), &device));
    EXPECT_EQ(device, 0u);
    EXPECT_TRUE(book.due.empty()) << "nothing left to send or to time out";
}
