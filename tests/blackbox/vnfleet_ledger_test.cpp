// VNfleet's report as a ledger: appended, whole lines that name the image,
// kept through resumes, crashes and a full disk.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <regex>

#include "fleet_runs.h"

TEST(VNfleetLedger, AppendsLinesThatNameTheImageSent)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address,whole\n127.0.3.1,no\n127.0.3.2,no\n");
    for (int run = 0; run < 2; ++run) {
        FleetAgainstSim r = runFleetAgainstSim(
            dir, "127.0.3.1-127.0.3.2", {"-P", "pw", "-f", "java.enc", "--report", "r.jsonl", "list.csv"});
        EXPECT_EQ(r.fleet.status, 0) << r.fleet.output << r.fleet.errors;
    }
    std::string report = readText(dir + "/r.jsonl");
    std::vector<std::string> lines = linesWith(report, {"\"result\":\"updated\""});
    ASSERT_EQ(lines.size(), 4u) << report;
    const std::regex shape(
        "\\{\"address\":\"127\\.0\\.3\\.[12]\",\"file\":\"java\\.enc\",\"result\":\"updated\","
        "\"reason\":\"\",\"pages\":20,\"datagrams\":6,\"resends\":0,\"milliseconds\":[0-9]+,"
        "\"foreign\":0,\"sha256\":\"" + sha256sumOf(dir + "/java.enc") +
        "\",\"type\":\"J\",\"whole\":false,"
        "\"time\":\"20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]Z\"\\}");
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, shape)) << line;
}

namespace {
std::string ledgerLine(const std::string& address, const std::string& sha256)
{
    return "{\"address\":\"" + address + "\",\"file\":\"java.enc\",\"result\":\"updated\",\"reason\":"
           "\"\",\"pages\":20,\"datagrams\":6,\"resends\":0,\"milliseconds\":1,\"foreign\":0,"
           "\"sha256\":\"" + sha256 + "\",\"type\":\"J\",\"whole\":false,\"time\":"
           "\"2026-12-01T00:00:00Z\"}\n";
}
}  // namespace

TEST(VNfleetLedger, ResumeSkipsOnlyADeviceHoldingThisImage)
{
    std::string dir = fleetFolder();
    std::string sha = sha256sumOf(dir + "/java.enc");
    writeTextFile(dir + "/list.csv", "address\n127.0.3.3\n127.0.3.4\n");
    // .3 holds an older release; a crash cut the last line short.
    std::string before = ledgerLine("127.0.3.4", sha) + ledgerLine("127.0.3.3", std::string(64, '0')) +
                         "{\"address\":\"127.0.3.3\",\"fi";
    writeTextFile(dir + "/run.jsonl", before);
    FleetAgainstSim r = runFleetAgainstSim(dir, "127.0.3.3-127.0.3.4",
                                           {"-P", "pw", "-f", "java.enc", "--resume", "run.jsonl",
                                            "--report", "run.jsonl", "list.csv"});
    EXPECT_EQ(r.fleet.status, 0) << r.fleet.output << r.fleet.errors;
    EXPECT_NE(r.fleet.errors.find("VNfleet: run.jsonl line 3: half-written, ignored\n"),
              std::string::npos) << r.fleet.errors;
    EXPECT_NE(r.fleet.output.find("127.0.3.4 skipped"), std::string::npos) << r.fleet.output;
    std::string after = readText(dir + "/run.jsonl");
    EXPECT_EQ(after.substr(0, before.size()), before);
    // The resumed report's own lines stay; .3 gets a line of its own after them.
    EXPECT_EQ(linesWith(after, {"127.0.3.4"}).size(), 1u) << after;
    EXPECT_EQ(linesWith(after, {"127.0.3.3", "\"updated\"", sha}).size(), 1u) << after;
    ProgramResult directory = runProgram("VNfleet", {"-f", "java.enc", "--resume", ".", "list.csv"},
                                         fleetStartupMs(), dir);
    EXPECT_EQ(directory.status, 2) << directory.errors;
}

TEST(VNfleetLedger, InterruptedResumeKeepsTheSkippedDevicesRecord)
{
    if (programsUnderWine())
        GTEST_SKIP() << "a signal is no console event under Wine";
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.3.5\n127.0.3.6\n");
    writeTextFile(dir + "/before.jsonl", ledgerLine("127.0.3.6", sha256sumOf(dir + "/java.enc")));
    RunningProgram fleet = startProgram("VNfleet", {"-j", "1", "-f", "java.enc", "--resume",
                                                    "before.jsonl", "--report", "after.jsonl",
                                                    "list.csv"},
                                        dir);
    usleep(300 * 1000);
    kill(fleet.pid, SIGINT);
    EXPECT_EQ(finishProgram(fleet, 2000).status, 3);
    std::string after = readText(dir + "/after.jsonl");
    EXPECT_EQ(linesWith(after, {"127.0.3.6", "\"skipped\""}).size(), 1u) << after;
}
