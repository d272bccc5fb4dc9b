#include "diag/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "diag/console_capture.h"
#include "platform/platform.h"

namespace {
int fakeCode = 0;
std::string fakeText;

int fakePending()
{
    return fakeCode;
}

int fakeSystemText(int, char* buffer, std::size_t size)
{
    if (fakeText.empty())
        return -1;
    std::snprintf(buffer, size, "%s", fakeText.c_str());
    return static_cast<int>(fakeText.size());
}

const ErrorSource fakeSource{fakePending, fakeSystemText};

struct LogTest : ::testing::Test {
    void SetUp() override { setErrorSource(&fakeSource); }
    void TearDown() override { setErrorSource(nullptr); }
};
}  // namespace

TEST_F(LogTest, NoPendingErrorPrintsMessageOnly)
{
    fakeCode = 0;
    ConsoleCapture capture;
    logMessage("bind:");
    EXPECT_EQ(ConsoleCapture::text(), "bind:\n");
}

TEST_F(LogTest, PendingErrorPrefixesSystemText)
{
    fakeCode = 10048;
    fakeText = "Only one usage of each socket address is normally permitted.\r\n";
    ConsoleCapture capture;
    logMessage("recv timeout retransmitting packet\n");
    EXPECT_EQ(ConsoleCapture::text(),
              "System Error: Only one usage of each socket address is normally permitted. (10048)"
              " User Message: recv timeout retransmitting packet\n\n");
}

TEST_F(LogTest, LongOrMissingSystemTextFallsBackToErrno)
{
    fakeCode = 42;
    char buffer[ERROR_TEXT_SIZE];
    fakeText = std::string(984, 'e') + "\r\n";  // 986 characters: fits
    ASSERT_NE(systemErrorText(buffer, sizeof buffer), nullptr);
    EXPECT_EQ(std::string(buffer), std::string(984, 'e') + " (42)");
    fakeText = std::string(985, 'e') + "\r\n";  // 987 characters: too long
    EXPECT_STREQ(systemErrorText(buffer, sizeof buffer), "Errno = 42");
    fakeText.clear();
    EXPECT_STREQ(systemErrorText(buffer, sizeof buffer), "Errno = 42");
    fakeCode = 0;
    EXPECT_EQ(systemErrorText(buffer, sizeof buffer), nullptr);
}

TEST_F(LogTest, PercentSignsPrintedUnchanged)
{
    fakeCode = 7;
    fakeText = "100% broken %s %d\r\n";
    ConsoleCapture capture;
    logMessage("%s", "50% done %n");
    EXPECT_EQ(ConsoleCapture::text(), "System Error: 100% broken %s %d (7) User Message: 50% done %n\n");
}

TEST_F(LogTest, ComposedLineIsCutNeverOverrun)
{
    fakeCode = 0;
    std::string huge(20000, 'z');
    ConsoleCapture capture;
    logMessage("%s", huge.c_str());
    EXPECT_EQ(ConsoleCapture::text(), std::string(LOG_LINE_SIZE - 1, 'z') + "\n");
}

TEST(PlatformError, PendingErrorStaysUntilReplaced)
{
    ASSERT_TRUE(platformNetStart());
    platformSetPendingError(0);
    EXPECT_EQ(platformPendingError(), 0);
    PlatformSocket sock = platformUdpOpen();
    ASSERT_NE(sock, PLATFORM_NO_SOCKET);
    EXPECT_TRUE(platformUdpBind(sock, platformParseIPv4("127.0.0.1"), 0));
    EXPECT_EQ(platformPendingError(), 0);
    // A socket binds once; the second bind fails and leaves its error.
    EXPECT_FALSE(platformUdpBind(sock, platformParseIPv4("127.0.0.1"), 0));
    int code = platformPendingError();
    EXPECT_NE(code, 0);
#ifndef _WIN32
    // Here a successful call leaves it too (Windows Sockets may reset it).
    EXPECT_NE(platformLocalPort(sock), 0);
    EXPECT_EQ(platformPendingError(), code);
#endif
    char text[ERROR_TEXT_SIZE];
    ASSERT_NE(systemErrorText(text, sizeof text), nullptr);
    EXPECT_NE(std::string(text).find("(" + std::to_string(code) + ")"), std::string::npos) << text;
    platformClose(sock);
    platformSetPendingError(0);
}
