// The command line and listen-only mode, from outside.
#include <gtest/gtest.h>

#include <string>

#include "programs.h"

namespace {
const std::string usage =
    "usage: vexaNode Loader VNloader\n"
    "-IP <IP Address>       Set the ip address of the vexaNode that is being updated\n"
    "-P <Password>          The Password for the vexaNode\n"
    "-v                     Print the version\n"
    "-no                    Listen for debug messages only. No download\n"
    "-f <FileName>          The file name to download\n";
}  // namespace

TEST(Cli, UsageAndStatus)
{
    ProgramResult r = runProgram("VNloader", {}, startupMs());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, usage);
    r = runProgram("VNloader", {"-v", "-bogus"}, startupMs());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "V2.2\n" + usage);
    r = runProgram("VNloader", {"-NE", "-f", "x"}, startupMs());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, std::string("You have chosen an unavailable file type:") + '\0' + usage);
    r = runProgram("VNloader", {"-no", "-IP"}, startupMs());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, usage);
}

TEST(Cli, ListenOnlyPrintsDatagramsAndSecondCopyReportsBind)
{
    RunningProgram listener = startProgram("VNloader", {"-no", "-f", "never-read.enc"});
    // The listener is up once a datagram comes back as a line.
    bool up = false;
    for (int i = 0; i < startupMs() / 200 && !up; ++i) {
        sendDatagram(9029, "ping");
        up = waitForOutput(listener, ": ping\n", 200);
    }
    ASSERT_TRUE(up) << listener.output;
    forgetOutput(listener);
    sendDatagram(9029, "boot ok");
    sendDatagram(9029, "");
    sendDatagram(9029, std::string("cut\0here", 8));
    sendDatagram(9029, "\x1b[31mred");
    sendDatagram(9029, std::string(256, 'a'));
    sendDatagram(9029, std::string(300, 'b'));
    sendDatagram(9029, "last");
    ASSERT_TRUE(waitForOutput(listener, ": last\n", 5000)) << listener.output;
    const std::string& out = listener.output;
    EXPECT_NE(out.find(" 127.0.0.1: boot ok\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" 127.0.0.1: \n"), std::string::npos) << out;
    EXPECT_NE(out.find(" 127.0.0.1: cut\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" 127.0.0.1: \\x1b[31mred\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" 127.0.0.1: " + std::string(256, 'a') + "\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("bbbb"), std::string::npos) << out;
    EXPECT_NE(out.find("recvfrom:\n"), std::string::npos) << out;
    EXPECT_EQ(out.rfind("Dbg>", 0), 0u) << out;

    ProgramResult second = runProgram("VNloader", {"-no"}, startupMs() / 5 + 1500);
    EXPECT_EQ(second.status, -1) << "listen-only mode never ends by itself";
    EXPECT_NE(second.output.find("bind:\nCould not bind to the debug port:9029 check to make sure "
                                 "there isn't another copy of this program running\n"),
              std::string::npos)
        << second.output;
    stopProgram(listener);
}
