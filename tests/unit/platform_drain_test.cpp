// The drain before the finish packet: every queued datagram goes, and the
// socket's event does not wake the next wait for one that is gone.
#include <gtest/gtest.h>

#include "platform/platform.h"

TEST(PlatformDrain, DropsWhatIsQueuedAndLeavesTheEventQuiet)
{
    ASSERT_TRUE(platformNetStart());
    const std::uint32_t loopback = platformParseIPv4("127.0.0.1");
    PlatformSocket sock = platformUdpOpen();
    ASSERT_NE(sock, PLATFORM_NO_SOCKET);
    ASSERT_TRUE(platformUdpBind(sock, loopback, 0));
    // Events live until the process ends.
    static PlatformEvent* const event = platformCreateEvent();
    ASSERT_TRUE(platformSelectRead(sock, event));
    const PlatformAddress self{loopback, platformLocalPort(sock)};

    const char datagram[23] = {1};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(platformSendTo(sock, datagram, sizeof datagram, self), 23);
    ASSERT_EQ(platformWaitEvent(event, 2000), 1);
    platformSleepMs(50);  // all three at the socket
    EXPECT_EQ(platformDrainSocket(sock, event), 3);
    EXPECT_EQ(platformWaitEvent(event, 100), 0);

    // A datagram after the drain still wakes the wait.
    ASSERT_EQ(platformSendTo(sock, datagram, sizeof datagram, self), 23);
    EXPECT_EQ(platformWaitEvent(event, 2000), 1);
    char buffer[64];
    PlatformAddress from{};
    EXPECT_EQ(platformRecvFrom(sock, buffer, sizeof buffer, &from), 23);
    platformClose(sock);
}
