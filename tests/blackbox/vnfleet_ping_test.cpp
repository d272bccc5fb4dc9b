// VNfleet --await-ping against VNsim's rebooting devices: a device's line is
// its final verdict, back after its reboot or not back at all.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "fleet_runs.h"

namespace {
const char* const NEVER_BACK[] = {"--never-back-at", "127.0.3.5", "--never-back-at", "127.0.3.9"};

// VNsim answers the pings in place of the kernel, in this namespace only.
bool kernelEchoOff()
{
    return std::getenv("VN_IN_NETNS") &&
           std::system("sysctl -qw net.ipv4.icmp_echo_ignore_all=1") == 0;
}

unsigned long backMsOf(const std::string& line)
{
    std::size_t at = line.find("\"back_ms\":");
    return at == std::string::npos ? 0 : std::strtoul(line.c_str() + at + 10, nullptr, 10);
}
}  // namespace

TEST(VNfleetPings, DevicesAreBackAfterTheirRebootOrNotBack)
{
    if (!kernelEchoOff())
        GTEST_SKIP() << "needs a private network namespace";
    // Here through an ICMP datagram socket; the other cases use a raw one.
    ASSERT_EQ(std::system("sysctl -qw net.ipv4.ping_group_range='0 0'"), 0);
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", deviceList("address", 20, 3));
    std::vector<std::string> sim = {"--reboot-ms", "2000"};
    sim.insert(sim.end(), std::begin(NEVER_BACK), std::end(NEVER_BACK));
    std::vector<std::string> args = {"-P", "pw", "--await-ping", "4", "--report", "r.jsonl"};
    FleetAgainstSim r = runFleetAgainstSim(dir, "127.0.3.1-127.0.3.20", sendingJava(args), sim);
    EXPECT_EQ(r.fleet.status, 4) << r.fleet.output << r.fleet.errors;
    std::string report = readText(dir + "/r.jsonl");
    std::vector<std::string> back = linesWith(report, {"\"result\":\"updated\"", "\"back_ms\":"});
    EXPECT_EQ(back.size(), 18u) << report;
    for (const std::string& line : back)
        EXPECT_GE(backMsOf(line), 2000u) << line;
    std::vector<std::string> notBack = linesWith(
        report, {"\"result\":\"not back\"", "\"reason\":\"no reply to ping within 4 s\"",
                 "\"back_ms\":null"});
    ASSERT_EQ(notBack.size(), 2u) << report;
    EXPECT_TRUE(holds(notBack[0], "127.0.3.5") && holds(notBack[1], "127.0.3.9")) << report;
    EXPECT_TRUE(holds(r.fleet.output, "VNfleet: 18 devices back: safe to remove power; 2 devices "
                                      "not back: do not remove their power\n"))
        << r.fleet.output;

    const std::string power = "18 devices back: safe to remove power; 2 devices not back: do not "
                              "remove their power";
    ProgramResult summary = runProgram("VNfleet", {"--summary", "r.jsonl"}, startupMs(), dir);
    EXPECT_EQ(summary.status, 4);
    EXPECT_TRUE(holds(summary.output, "    " + power + "\nnot updated: 0 devices\nnot back: 2 devices\n"
                                      "  r.jsonl 127.0.3.5 not back: java.enc: no reply to ping within 4 s\n"))
        << summary.output;
    summary = runProgram("VNfleet", {"--summary", "--json", "r.jsonl"}, startupMs(), dir);
    EXPECT_TRUE(holds(summary.output, "\"back\":18,\"not_back\":2,\"power\":\"" + power + "\"}"))
        << summary.output;

    // Not back is not done: a resume sends those two again, and only them.
    args.insert(args.end(), {"--resume", "r.jsonl"});
    r = runFleetAgainstSim(dir, "127.0.3.1-127.0.3.20", sendingJava(args), sim);
    EXPECT_EQ(r.fleet.status, 4) << r.fleet.output << r.fleet.errors;
    EXPECT_EQ(linesWith(r.sim.output, {": finish java"}).size(), 2u) << r.sim.output;
    EXPECT_EQ(linesWith(readText(dir + "/r.jsonl"), {"\"not back\""}).size(), 4u);
}

TEST(VNfleetPings, CtrlCWhileDevicesRebootLeavesThemUnconfirmed)
{
    if (!kernelEchoOff() || programsUnderWine())
        GTEST_SKIP() << "in a private network namespace; a signal is no console event under Wine";
    ASSERT_EQ(std::system("sysctl -qw net.ipv4.ping_group_range='1 0'"), 0);
    std::string dir = fleetFolder();
    RunningProgram sim = startDevices({"--devices", "127.0.3.1-127.0.3.3", "-P", "pw", "-K",
                                       "fleet-key", "--reboot-ms", "60000"},
                                      dir);
    ASSERT_TRUE(waitForOutput(sim, "listening on", startupMs())) << sim.output;
    RunningProgram fleet = startFleet(dir, deviceList("", 3, 3).substr(1),
                                      {"-P", "pw", "--await-ping", "60", "--report", "r.jsonl"});
    EXPECT_TRUE(waitForOutput(sim, "VNsim 127.0.3.3: ", 10000)) << sim.output;
    usleep(300 * 1000);
    kill(fleet.pid, SIGINT);
    ProgramResult r = finishProgram(fleet, 10000);
    stopProgram(sim);
    EXPECT_EQ(r.status, 3) << r.output << r.errors;
    EXPECT_EQ(linesWith(readText(dir + "/r.jsonl"),
                        {"\"result\":\"updated\"",
                         "\"reason\":\"interrupted while waiting for a ping reply\"",
                         "\"back_ms\":null"})
                  .size(),
              3u)
        << readText(dir + "/r.jsonl");
    EXPECT_TRUE(holds(r.output, "0 devices back: safe to remove power; 3 devices not back"))
        << r.output;
}

TEST(VNfleetPings, WithoutAnyIcmpPermissionNothingIsSent)
{
    if (!kernelEchoOff() || programsUnderWine())
        GTEST_SKIP() << "Linux, in a private network namespace";
    // nobody: outside ping_group_range and without CAP_NET_RAW.
    ASSERT_EQ(std::system("sysctl -qw net.ipv4.ping_group_range='1 0'"), 0);
    std::string dir = fleetFolder();
    chmod(dir.c_str(), 0755);
    writeTextFile(dir + "/list.csv", "address\n127.0.3.1\n");
    std::string command = "cd " + dir + " && setpriv --reuid=nobody --regid=nogroup --clear-groups " +
                          programPath("VNfleet") +
                          " -P pw -f java.enc --await-ping 5 list.csv > out 2> errors";
    int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_TRUE(holds(readText(dir + "/errors"),
                      "VNfleet: --await-ping cannot send pings: no ICMP datagram socket"))
        << readText(dir + "/errors");
    EXPECT_TRUE(holds(readText(dir + "/errors"), "CAP_NET_RAW")) << readText(dir + "/errors");
    EXPECT_EQ(readText(dir + "/out"), "");
}

TEST(VNfleetPings, ADeviceWaitingForItsFinishAnswerHoldsNoSlot)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.3.1\n127.0.3.2\n");
    // A finish answer VNfleet does not take: it waits 10 s to send it again.
    FleetAgainstSim r = runFleetAgainstSim(dir, "127.0.3.1-127.0.3.2",
                                           sendingJava({"-j", "1", "-P", "pw"}),
                                           {"--reply-length", "3@finish", "--idle-ms", "30000"});
    EXPECT_EQ(r.fleet.status, 0) << r.fleet.output << r.fleet.errors;
    std::size_t second = r.sim.output.find("127.0.3.2: ");
    std::size_t again = r.sim.output.find("127.0.3.1: finish again");
    EXPECT_LT(second, again) << "the second device waited for the first's finish:\n"
                             << r.sim.output;
}
