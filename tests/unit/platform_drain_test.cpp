// The drain before the finish packet: every queued datagram goes, empty ones
// included, and the socket's event does not wake the next wait for one that
// is gone.
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"

TEST(PlatformDrain, DropsWhatIsQueuedAndLeavesTheEventQuiet)
{
    ASSERT_TRUE(platformNetStart());
    const std::uint32_t loopback = platformParseIPv4("127.0.0.1");
    // Lengths of the datagrams queued before the drain. Events live until
    // the process ends.
    const std::vector<int> cases[] = {{23, 23, 23}, {0, 23}};
    static PlatformEvent* const events[] = {platformCreateEvent(), platformCreateEvent()};
    for (int i = 0; i < 2; ++i) {
        const std::vector<int>& queued = cases[i];
        PlatformEvent* const event = events[i];
        SCOPED_TRACE(queued.size());
        PlatformSocket sock = platformUdpOpen();
        ASSERT_NE(sock, PLATFORM_NO_SOCKET);
        ASSERT_TRUE(platformUdpBind(sock, loopback, 0));
        platformIgnoreConnReset(sock);
        ASSERT_TRUE(platformSelectRead(sock, event));
        const PlatformAddress self{loopback, platformLocalPort(sock)};

        const char datagram[23] = {1};
        for (int length : queued)
            ASSERT_EQ(platformSendTo(sock, datagram, length, self), length);
        ASSERT_EQ(platformWaitEvent(event, 2000), 1);
        platformSleepMs(50);  // all of them at the socket
        EXPECT_EQ(platformDrainSocket(sock, event), static_cast<int>(queued.size()));
        EXPECT_EQ(platformWaitEvent(event, 100), 0);

        // A datagram after the drain still wakes the wait.
        ASSERT_EQ(platformSendTo(sock, datagram, sizeof datagram, self), 23);
        EXPECT_EQ(platformWaitEvent(event, 2000), 1);
        char buffer[64];
        PlatformAddress from{};
        EXPECT_EQ(platformRecvFrom(sock, buffer, sizeof buffer, &from), 23);
        platformClose(sock);
    }
}
