// VNfleet as an operator runs it: the datagrams it sends are VNloader's,
// a bad list sends nothing, a report resumes, Ctrl-C stops at once.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fleet_runs.h"
#include "hex_text.h"
#include "programs.h"
#include "usage_docs.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

// A device stand-in on 127.0.0.1:69 that acknowledges every packet and
// keeps what it was sent.
class Responder {
public:
    Responder()
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(69);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
            ADD_FAILURE() << "cannot bind 127.0.0.1:69";
    }
    ~Responder() { close(fd); }

    // Answers until the finish packet has been answered; false on time-out.
    bool serveTransfer(std::vector<Bytes>* datagrams, int timeoutMs)
    {
        Bytes got;
        while (receive(&got, timeoutMs)) {
            datagrams->push_back(got);
            Bytes reply(23, 0);
            reply[0] = 1;  // ACK of the packet's start page (0 for the finish packet)
            reply[3] = got.size() > 4 ? got[3] : 0;
            reply[4] = got.size() > 4 ? got[4] : 0;
            sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                   sizeof from);
            if (!got.empty() && got[0] == 6)
                return true;
        }
        return false;
    }

    bool receive(Bytes* got, int timeoutMs)
    {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, timeoutMs) <= 0)
            return false;
        got->assign(4096, 0);
        socklen_t length = sizeof from;
        ssize_t n = recvfrom(fd, got->data(), got->size(), 0, reinterpret_cast<sockaddr*>(&from),
                             &length);
        got->resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return true;
    }

private:
    int fd = -1;
    sockaddr_in from{};
};

std::vector<Bytes> datagramsOf(const std::string& program, const std::vector<std::string>& args,
                               const std::string& dir)
{
    Responder device;
    RunningProgram running = startProgram(program, args, dir);
    std::vector<Bytes> datagrams;
    EXPECT_TRUE(device.serveTransfer(&datagrams, startupMs())) << program;
    ProgramResult result = finishProgram(running, startupMs());
    EXPECT_EQ(result.status, program == "VNloader" ? 1 : 0) << result.output;
    return datagrams;
}

// A folder with a main HEX file, a logo, a Java file and its package.
std::string firmwareFolder()
{
    std::string dir = makeTempDir();
    Bytes main = randomBytes(3000, 21);
    std::string hex;
    for (std::size_t at = 0; at < main.size(); at += 16)
        hex += hexRecord(0, static_cast<unsigned>(at),
                         Bytes(main.begin() + static_cast<long>(at),
                               main.begin() + static_cast<long>(std::min(at + 16, main.size()))));
    writeTextFile(dir + "/main.hex", hex + ":00000001FF\r\n");
    writeFile(dir + "/logo.bin", randomBytes(1500, 22));
    writeFile(dir + "/app.jar", randomBytes(5000, 23));
    writeFile(dir + "/big-logo.bin", randomBytes(10000, 24));
    runProgram("VNloader", {"-NE", "-T", "J", "-f", "app.jar", "-K", "fleet-key"}, startupMs(), dir);
    writeTextFile(dir + "/junk.enc", "not a package");
    return dir;
}

std::string fleetStartupFolder()
{
    static const std::string dir = firmwareFolder();
    return dir;
}
}  // namespace

TEST(VNfleet, SendsTheDatagramsVNloaderSends)
{
    struct Case {
        std::vector<std::string> options;  // as VNloader takes them
        std::string list;
    };
    const std::vector<Case> cases = {
        {{"-P", "pw", "-NE", "-T", "M", "-f", "main.hex"}, "address\n127.0.0.1\n"},
        {{"-P", "a password of twenty", "-f", "java.enc"}, "address\n127.0.0.1\n"},
        {{"-P", "pw", "-EA", "-f", "java.enc"}, "address\n127.0.0.1\n"},
        {{"-P", "p,\"w", "-NE", "-T", "L", "-f", "logo.bin"},
         "address,password,file,type,whole\r\n# CR LF lines, a quoted field\r\n"
         "127.0.0.1,\"p,\"\"w\",logo.bin,L,no\r\n"},
    };
    std::string dir = fleetStartupFolder();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list + c.options.back());
        writeTextFile(dir + "/list.csv", c.list);
        std::vector<std::string> loaderArgs{"-IP", "127.0.0.1"};
        loaderArgs.insert(loaderArgs.end(), c.options.begin(), c.options.end());
        std::vector<Bytes> loaderSent = datagramsOf("VNloader", loaderArgs, dir);
        std::vector<std::string> fleetArgs = c.list.find("password") != std::string::npos
                                                 ? std::vector<std::string>{}
                                                 : c.options;
        fleetArgs.push_back("list.csv");
        std::vector<Bytes> fleetSent = datagramsOf("VNfleet", fleetArgs, dir);
        EXPECT_GT(loaderSent.size(), 1u);
        EXPECT_TRUE(fleetSent == loaderSent) << fleetSent.size() << " datagrams against "
                                             << loaderSent.size();
    }
}

TEST(VNfleet, BadListIsRefusedNamingTheLineAndNothingIsSent)
{
    struct Case {
        std::string list;
        std::string message;
    };
    const std::string header = "address,file\n127.0.0.1,java.enc\n";
    const std::vector<Case> cases = {
        {header + "127.0.0.300,java.enc\n", "line 3: not an IPv4 address: 127.0.0.300"},
        {header + "127.0.5.010,java.enc\n",
         "line 3: a leading zero in an address (VNloader reads it as octal): 127.0.5.010"},
        {header + "0.1.2.3,java.enc\n",
         "line 3: not a device's address (this network, 0.0.0.0/8): 0.1.2.3"},
        {header + "239.1.1.1,java.enc\n",
         "line 3: not a device's address (multicast, 224.0.0.0/4): 239.1.1.1"},
        {header + "255.255.255.255,java.enc\n",
         "line 3: not a device's address (reserved or broadcast, 240.0.0.0/4): 255.255.255.255"},
        {header + "127.0.0.2,missing.enc\n", "line 3: Could not open: missing.enc"},
        {header + "127.0.0.2,junk.enc\n",
         "line 3: Wrong Magic Number, This is not an ORLIX microcode update file: junk.enc"},
        {header + "# a comment\n127.0.0.1,java.enc\n",
         "line 4: duplicate address 127.0.0.1 (first on line 2)"},
        {header + "\"127.0.0.2,java.enc\n", "line 3: a quoted field is never closed"},
        {header + "127.0.0.2\"x\",java.enc\n", "line 3: a quote inside an unquoted field"},
        {header + "127.0.0.2,java.enc,extra\n", "line 3: has 3 fields, the header 2"},
        {"adress,file\n127.0.0.1,java.enc\n", "line 1: unknown column: adress"},
        {"file\njava.enc\n", "line 1: no address column"},
        {"\xFF\xFE" "a\0d\0", "line 1: UTF-16 text: save the list as UTF-8"},
        {header + "127.0.0.2,caf\xE9.enc\n", "line 3: not UTF-8 text: save the list as UTF-8"},
        {std::string("a\0d\0", 4), "line 1: UTF-16 text: save the list as UTF-8"},
        {"address,file\r127.0.0.1,java.enc\r", "line 1: save the list with CR LF or LF line ends"},
        {"address,file,,\n127.0.0.1,java.enc,,\n", "line 1: column 3 of the header has no name"},
        {"password,address,file\n#pw,127.0.0.2,java.enc\n",
         "line 2: starts with # but holds a device: quote the cell or remove the line"},
        {"address,file,type\n127.0.0.1,app.jar,X\n",
         "line 2: not a type letter (M, D, L, J or H): X"},
        {"address,file,whole\n127.0.0.1,java.enc,maybe\n",
         "line 2: whole must be 1 or 0, yes or no: maybe"},
        {"address,file,type\n127.0.0.1,big-logo.bin,L\n",
         "line 2: Image size exceeds allotment. pages:40 allotment:16"},
    };
    std::string dir = fleetStartupFolder();
    Responder device;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        writeTextFile(dir + "/list.csv", c.list);
        ProgramResult r = runProgram("VNfleet", {"list.csv"}, startupMs(), dir);
        EXPECT_EQ(r.status, 2) << r.errors;
        EXPECT_EQ(r.errors, "VNfleet: list.csv " + c.message + "\n");
        EXPECT_EQ(r.output, "");
        Bytes got;
        EXPECT_FALSE(device.receive(&got, 0)) << "a datagram was sent";
    }
}

TEST(VNfleet, ResumeSkipsWhatAReportListsAsUpdated)
{
    std::string dir = fleetStartupFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.0.2\n127.0.0.3\n");
    writeTextFile(dir + "/before.jsonl",
                  ledgerRunLine("list") + ledgerLine("127.0.0.2", sha256sumOf(dir + "/java.enc")) +
                  "{\"run\":\"r0\",\"address\":\"127.0.0.3\",\"file\":\"java.enc\",\"result\":\"failed\","
                  "\"reason\":\"no reply\",\"pages\":0,\"datagrams\":8,\"resends\":7,"
                  "\"milliseconds\":9}\n");
    RunningProgram sim = startDevices({"-a", "127.0.0.3", "-P", "pw", "-K", "fleet-key",
                                                "--idle-ms", "30000"}, dir);
    ASSERT_TRUE(waitForOutput(sim, "listening on 127.0.0.3:69", startupMs())) << sim.output;
    ProgramResult fleet = runProgram("VNfleet", {"-P", "pw", "-f", "java.enc", "--resume",
                                                 "before.jsonl", "--report", "after.jsonl",
                                                 "--debug-log", "debug.log", "list.csv"},
                                     startupMs() * 2, dir);
    ProgramResult device = finishProgram(sim, startupMs());
    EXPECT_EQ(fleet.status, 0) << fleet.output;
    EXPECT_EQ(device.status, 0) << device.output;
    std::string text = readText(dir + "/after.jsonl");
    EXPECT_NE(text.find("\"address\":\"127.0.0.2\",\"file\":\"java.enc\",\"result\":\"skipped\","
                        "\"reason\":\"updated in an earlier run\",\"pages\":0"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"address\":\"127.0.0.3\",\"file\":\"java.enc\",\"result\":\"updated\","
                        "\"reason\":\"\",\"pages\":20,"),
              std::string::npos)
        << text;
    // The sender is the device (Wine names it 127.0.0.1, whatever it bound).
    EXPECT_TRUE(holds(readText(dir + "/debug.log"), ": update started\n")) << fleet.errors;
    // A resumed run's report resumes in turn: nothing is left to send.
    ProgramResult again = runProgram("VNfleet", {"-P", "pw", "-f", "java.enc", "--resume",
                                                 "after.jsonl", "--dry-run", "list.csv"},
                                     startupMs(), dir);
    EXPECT_NE(again.output.find("plan: 0 devices"), std::string::npos) << again.output;
}

TEST(VNfleet, InterruptStopsAtOnceAndReportsTheDevicesInFlight)
{
    if (programsUnderWine())
        GTEST_SKIP() << "a signal is no console event under Wine";
    std::string dir = fleetStartupFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.0.4\n127.0.0.5\n");
    RunningProgram fleet = startProgram("VNfleet", {"-j", "1", "-f", "java.enc", "--report",
                                                    "stopped.jsonl", "list.csv"},
                                        dir);
    usleep(300 * 1000);
    kill(fleet.pid, SIGINT);
    ProgramResult r = finishProgram(fleet, 2000);
    EXPECT_EQ(r.status, 3) << r.output;
    EXPECT_NE(r.output.find("1 interrupted, 0 skipped, 1 not started"), std::string::npos)
        << r.output;
    std::string text = readText(dir + "/stopped.jsonl");
    EXPECT_NE(text.find("\"address\":\"127.0.0.4\",\"file\":\"java.enc\",\"result\":"
                        "\"interrupted\""),
              std::string::npos)
        << text;
}

TEST(VNfleet, ReadmeAndManualListTheOptionsAndStatusesOfHelp)
{
    expectDocsListWhatHelpLists(runProgram("VNfleet", {"--help"}, startupMs()).output,
                                "## Updating a fleet", "man/VNfleet.1");
}

TEST(VNfleet, VersionIsThePackagesOnOneLine)
{
    ProgramResult r = runProgram("VNfleet", {"--version"}, startupMs());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "VNfleet 2.2\n");
}

TEST(VNfleet, FiftyDevicesThroughLossAndDuplicatesEachGetTheImageExactly)
{
    if (programsUnderWine())
        GTEST_SKIP() << "the small cases run under Wine";
    std::string dir = makeTempDir();
    std::vector<unsigned char> content = randomBytes(20000, 31);
    writeFile(dir + "/app.jar", content);
    runProgram("VNloader", {"-NE", "-T", "J", "-f", "app.jar", "-K", "fleet-key"}, startupMs(), dir);
    std::string list = "address\n";
    for (int i = 1; i <= 50; ++i)
        list += "127.0.2." + std::to_string(i) + "\n";
    writeTextFile(dir + "/list.csv", list);
    RunningProgram sim = startProgram(
        "VNsim", {"--devices", "127.0.2.1-127.0.2.50", "--loss", "0.05", "--dup", "0.1", "--seed",
                  "7", "--ack-delay-ms", "1", "--idle-ms", "20000", "-P", "pw", "-K", "fleet-key",
                  "-o", dir},
        dir);
    ASSERT_TRUE(waitForOutput(sim, "listening on", startupMs())) << sim.output;
    RunningProgram running = startProgram("VNfleet", {"-j", "16", "--min-wait-ms", "50", "--tries",
                                                      "20", "-P", "pw", "-f", "java.enc",
                                                      "list.csv"},
                                          dir);
    // VNsim ends a moment after its last device's finish packet; its packet
    // lines are read meanwhile, so it never waits on a full pipe.
    ProgramResult devices = finishProgram(sim, 60000);
    ProgramResult fleet = finishProgram(running, startupMs());
    EXPECT_EQ(fleet.status, 0) << fleet.output << fleet.errors;
    EXPECT_EQ(lastLine(devices.output),
              "VNsim: 50 devices: 50 passed every check, 0 failed a check, 0 without a finish "
              "packet");
    // The package's image: the length prefix, the file, zeros to the page.
    std::vector<unsigned char> image((content.size() + 2 + 255) / 256 * 256, 0);
    image[0] = static_cast<unsigned char>(content.size() & 0xFF);
    image[1] = static_cast<unsigned char>(content.size() >> 8);
    std::copy(content.begin(), content.end(), image.begin() + 2);
    for (int i = 1; i <= 50; ++i) {
        std::string address = "127.0.2." + std::to_string(i);
        EXPECT_TRUE(readFile(dir + "/" + address + ".bin") == image) << address;
    }
    EXPECT_NE(devices.output.find(" lost (random)"), std::string::npos) << devices.output;
    EXPECT_NE(devices.output.find(", sent twice (random)"), std::string::npos) << devices.output;
}
