// VNfleet's guards for a rollout: who may answer for a device, the finish
// packet, limits and signals, lists as spreadsheets write them, canaries.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fleet_runs.h"

namespace {
int udpSocket(const char* address, unsigned short port)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, address, &at.sin_addr);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
        ADD_FAILURE() << "cannot bind " << address;
    return fd;
}

// Runs a shell command in dir beside VNsim's devices (password pw), whose
// packet lines go to a file, so they never wait on a full pipe; its status.
int shellWithSim(const std::string& dir, const std::string& range, const std::string& command)
{
    int status = std::system(("cd " + dir + " && { " + programPath("VNsim") + " --devices " +
                              range + " -P pw --idle-ms 20000 > sim.out & "
                              "until grep -qs 'listening on' sim.out; do sleep 0.05; done; " +
                              command + "; s=$?; kill $!; exit $s; }")
                                 .c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

TEST(VNfleetGuards, AnotherHostsAckIsDroppedAndCounted)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.3.8\n");
    int device = udpSocket("127.0.3.8", 69);
    int stranger = udpSocket("127.0.3.9", 0);
    RunningProgram fleet = startProgram("VNfleet", {"--tries", "2", "--min-wait-ms", "100", "-f",
                                                    "java.enc", "--report", "r.jsonl", "list.csv"},
                                        dir);
    // The device stays silent; a stranger acknowledges every packet it sends.
    pollfd wait{device, POLLIN, 0};
    for (int waitMs = fleetStartupMs(); poll(&wait, 1, waitMs) > 0; waitMs = 1500) {
        std::uint8_t packet[2048];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t got = recvfrom(device, packet, sizeof packet, 0,
                               reinterpret_cast<sockaddr*>(&from), &length);
        std::uint8_t ack[23] = {1, 0, 0, packet[3], packet[4]};
        if (got > 4)
            sendto(stranger, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&from), length);
    }
    ProgramResult r = finishProgram(fleet, fleetStartupMs());
    close(device);
    close(stranger);
    EXPECT_EQ(r.status, 4) << r.output;
    std::string report = readText(dir + "/r.jsonl");
    EXPECT_EQ(linesWith(report, {"\"result\":\"failed\",\"reason\":\"no reply\"", "\"foreign\":2,"})
                  .size(),
              1u)
        << report;
}

TEST(VNfleetGuards, TheFinishPacketWaitsVNloadersWholeWaitBeforeItGoesAgain)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.3.10\n");
    int device = udpSocket("127.0.3.10", 69);
    RunningProgram fleet = startProgram("VNfleet", {"--min-wait-ms", "100", "-f", "java.enc",
                                                    "list.csv"},
                                        dir);
    // Every code-update packet is acknowledged, the finish packet never.
    int finishes = 0;
    pollfd wait{device, POLLIN, 0};
    for (int waitMs = fleetStartupMs(); poll(&wait, 1, waitMs) > 0; waitMs = 2000) {
        std::uint8_t packet[2048];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t got = recvfrom(device, packet, sizeof packet, 0,
                               reinterpret_cast<sockaddr*>(&from), &length);
        std::uint8_t ack[23] = {1, 0, 0, packet[3], packet[4]};
        if (got > 4 && packet[0] == 6)
            ++finishes;
        else if (got > 4)
            sendto(device, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&from), length);
    }
    stopProgram(fleet);
    close(device);
    EXPECT_EQ(finishes, 1);
}

TEST(VNfleetGuards, InFlightDevicesStayWithinTheOpenFileLimit)
{
    if (programsUnderWine())
        GTEST_SKIP() << "Windows sets no open-file limit";
    std::string dir = fleetFolder();
    std::string list = "address\n";
    for (int i = 1; i <= 200; ++i)
        list += "127.0." + std::to_string(5 + i / 250) + "." + std::to_string(1 + i % 250) + "\n";
    writeTextFile(dir + "/list.csv", list);
    // A limit of 64 that not even root may raise.
    int status = shellWithSim(dir, "127.0.5.1-127.0.5.250",
                              "setpriv --bounding-set=-sys_resource prlimit --nofile=64:64 " +
                                  programPath("VNfleet") +
                                  " -j 200 -P pw -f java.enc list.csv > out 2> err");
    EXPECT_EQ(status, 0) << readText(dir + "/out");
    EXPECT_EQ(readText(dir + "/err"),
              "VNfleet: at most 48 devices in flight: the open-file limit is 64\n");
    EXPECT_NE(readText(dir + "/out").find("200 updated, 0 failed"), std::string::npos);
}

TEST(VNfleetGuards, HangUpEndsARunAsCtrlCAndAClosedOutputDoesNot)
{
    if (programsUnderWine())
        GTEST_SKIP() << "a signal is no console event under Wine";
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.3.11\n127.0.3.12\n");
    RunningProgram fleet = startProgram("VNfleet", {"-j", "1", "-f", "java.enc", "list.csv"}, dir);
    usleep(300 * 1000);
    kill(fleet.pid, SIGHUP);
    ProgramResult r = finishProgram(fleet, 2000);
    EXPECT_EQ(r.status, 3) << r.output;
    EXPECT_NE(r.output.find("1 interrupted, 0 skipped, 1 not started"), std::string::npos);
    // Standard output closed at once: every device is still sent and recorded.
    writeTextFile(dir + "/list.csv", "address\n127.0.5.1\n127.0.5.2\n");
    int status = shellWithSim(dir, "127.0.5.1-127.0.5.9",
                              "{ " + programPath("VNfleet") + " -P pw -f java.enc --report r.jsonl "
                              "list.csv; echo $? > status; } | true");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readText(dir + "/status"), "0\n");
    EXPECT_EQ(linesWith(readText(dir + "/r.jsonl"), {"\"updated\""}).size(), 2u);
}

TEST(VNfleetGuards, ListsAreReadAsSpreadsheetsWriteThem)
{
    std::string dir = fleetFolder();
    mkdir((dir + "/site").c_str(), 0700);
    writeFile(dir + "/site/java.enc", readFile(dir + "/java.enc"));
    // A byte-order mark, semicolons, spaces, any case, an indented comment;
    // the file cell is taken from the list's folder.
    writeTextFile(dir + "/site/list.csv",
                  "\xEF\xBB\xBF Address ; PASSWORD;File;Whole\r\n"
                  "  # cabinet A\r\n"
                  "127.0.3.13 ; pw ; java.enc ; FALSE\r\n"
                  "127.0.3.14;\" pw \";java.enc;No\r\n");
    std::remove((dir + "/java.enc").c_str());
    // Wine holds one emulated device on loopback: the other gets no reply.
    FleetAgainstSim r = runFleetAgainstSim(
        dir, programsUnderWine() ? "127.0.3.13-127.0.3.13" : "127.0.3.13-127.0.3.14",
        {"--tries", "2", "--min-wait-ms", "50", "site/list.csv"});
    EXPECT_EQ(r.fleet.status, 4) << r.fleet.errors;
    EXPECT_NE(r.fleet.output.find("127.0.3.13 updated: site/java.enc"), std::string::npos)
        << r.fleet.output;
    // A quoted password keeps its spaces.
    if (!programsUnderWine()) {
        EXPECT_NE(r.fleet.output.find("127.0.3.14 failed: site/java.enc: You entered the wrong "
                                      "Set Password"),
                  std::string::npos);
    }
}

TEST(VNfleetGuards, CanariesGoFirstAndFailuresStopTheRollout)
{
    if (programsUnderWine())
        GTEST_SKIP() << "Wine holds one emulated device on loopback";
    struct Case {
        std::vector<std::string> options;
        std::string rows;  // the second column: each device's password
        int status;
        std::string summary;
    };
    const std::vector<Case> cases = {
        {{"--canary", "2"}, "1,bad\n2,pw\n3,pw\n4,pw\n", 4,
         "VNfleet: no further device started: not every canary device was updated (--canary)\n"
         "VNfleet: 4 devices: 1 updated, 1 failed, 0 interrupted, 0 skipped, 2 not started"},
        {{"--canary", "1"}, "1,pw\n2,pw\n3,pw\n", 0, "VNfleet: 3 devices: 3 updated, 0 failed"},
        {{"-j", "1", "--max-failed", "1"}, "1,bad\n2,bad\n3,pw\n4,pw\n", 4,
         "VNfleet: no further device started: more than 1 devices failed (--max-failed)\n"
         "VNfleet: 4 devices: 0 updated, 2 failed, 0 interrupted, 0 skipped, 2 not started"},
        {{"-j", "1", "--max-failed", "50%"}, "1,bad\n2,pw\n3,bad\n4,pw\n", 4,
         "VNfleet: 4 devices: 2 updated, 2 failed"},
    };
    std::string dir = fleetFolder();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        std::string list = "address,password\n";
        for (std::size_t at = 0; at < c.rows.size(); at = c.rows.find('\n', at) + 1)
            list += "127.0.6." + c.rows.substr(at, c.rows.find('\n', at) + 1 - at);
        writeTextFile(dir + "/list.csv", list);
        std::vector<std::string> args = c.options;
        for (const char* arg : {"-f", "java.enc", "list.csv"})
            args.push_back(arg);
        FleetAgainstSim r = runFleetAgainstSim(dir, "127.0.6.1-127.0.6.4", args);
        EXPECT_EQ(r.fleet.status, c.status) << r.fleet.output;
        EXPECT_NE(r.fleet.output.find(c.summary), std::string::npos) << r.fleet.output;
    }
}

TEST(VNfleetGuards, ThreeHundredFilesOfTheirOwnAreNotHeldAtOnce)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space";
#endif
    if (programsUnderWine())
        GTEST_SKIP() << "the address-space limit is a Linux one";
    std::string dir = makeTempDir();
    writeFile(dir + "/page.htm", randomBytes(100000, 41));
    std::string list = "address,file\n";
    for (int i = 0; i < 300; ++i) {
        std::string name = "p" + std::to_string(i) + ".htm";
        link((dir + "/page.htm").c_str(), (dir + "/" + name).c_str());
        list += "127.0." + std::to_string(7 + i / 250) + "." + std::to_string(1 + i % 250) + "," +
                name + "\n";
    }
    writeTextFile(dir + "/list.csv", list);
    // 30 MB of files in 16 MiB of address space: checked one at a time.
    int status = std::system(("cd " + dir + " && prlimit --as=16777216 " +
                              programPath("VNfleet") +
                              " -NE -T H --dry-run list.csv > out 2>&1").c_str());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readText(dir + "/out").rfind("VNfleet: plan: 300 devices, 300 files, 120000 pages", 0),
              0u) << readText(dir + "/out");
}

TEST(VNfleetGuards, TheDebugLogHearsADevicesLastWords)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.3.16\n");
    int device = udpSocket("127.0.3.16", 69);
    RunningProgram fleet = startProgram("VNfleet", {"-f", "java.enc", "--debug-log", "debug.log",
                                                    "list.csv"},
                                        dir);
    pollfd wait{device, POLLIN, 0};
    for (bool finished = false; !finished && poll(&wait, 1, fleetStartupMs()) > 0;) {
        std::uint8_t packet[2048];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t got = recvfrom(device, packet, sizeof packet, 0,
                               reinterpret_cast<sockaddr*>(&from), &length);
        std::uint8_t ack[23] = {1, 0, 0, got > 4 ? packet[3] : std::uint8_t{0}, packet[4]};
        sendto(device, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&from), length);
        finished = got > 0 && packet[0] == 6;
    }
    // The device writes its image, then says so.
    usleep(300 * 1000);
    sendDatagram(9029, "image written");
    finishProgram(fleet, fleetStartupMs());
    close(device);
    EXPECT_NE(readText(dir + "/debug.log").find(": image written"), std::string::npos);
}

TEST(VNfleetGuards, TheDryRunCountsOnlyWhatItWouldSendAndTTakesOneLetter)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address,file\n127.0.3.17,java.enc\n127.0.3.18,app.enc\n");
    writeFile(dir + "/app.enc", readFile(dir + "/java.enc"));
    writeTextFile(dir + "/run.jsonl",
                  "{\"address\":\"127.0.3.17\",\"file\":\"java.enc\",\"result\":\"updated\","
                  "\"reason\":\"\",\"sha256\":\"" + sha256sumOf(dir + "/java.enc") +
                      "\",\"type\":\"J\",\"whole\":false}\n");
    ProgramResult plan = runProgram("VNfleet", {"--resume", "run.jsonl", "--dry-run", "list.csv"},
                                    fleetStartupMs(), dir);
    EXPECT_EQ(plan.output.substr(0, plan.output.find("device ")),
              "VNfleet: plan: 1 devices, 1 files, 20 pages, 6 packets\n"
              "file app.enc: Java from an update package, pages 1427 to 1446 (20 pages, 5 "
              "packets and the finish packet), 1 devices\n");
    ProgramResult word = runProgram("VNfleet", {"-NE", "-T", "Main", "-f", "x", "list.csv"},
                                    fleetStartupMs(), dir);
    EXPECT_EQ(word.status, 1);
    EXPECT_EQ(word.errors.rfind("VNfleet: bad value for -T: Main\n", 0), 0u) << word.errors;
}
