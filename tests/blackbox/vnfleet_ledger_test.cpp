// VNfleet's report as a ledger: appended, whole lines that name the image,
// kept through resumes, crashes and a full disk.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "fleet_runs.h"

// A report line with its run as r0, its milliseconds as 1 and its time, when
// it is one (UTC, ISO 8601), as 2026-12-01T00:00:00Z.
std::string withFixedTimes(std::string line)
{
    std::size_t at = line.find("\"run\":\"") + 7;
    line.replace(at, line.find('"', at) - at, "r0");
    at = line.find("\"milliseconds\":") + 15;
    line.replace(at, line.find(',', at) - at, "1");
    at = line.find("\"time\":\"") + 8;
    int f[6] = {};
    if (std::sscanf(line.c_str() + at, "%4d-%2d-%2dT%2d:%2d:%2dZ", &f[0], &f[1], &f[2], &f[3],
                    &f[4], &f[5]) == 6 && line.compare(at + 19, 3, "Z\"}") == 0)
        line.replace(at, 20, "2026-12-01T00:00:00Z");
    return line + "\n";
}

TEST(VNfleetLedger, AppendsLinesThatNameTheImageSent)
{
    std::string dir = fleetFolder();
    // Wine holds one emulated device on loopback.
    const int devices = programsUnderWine() ? 1 : 2;
    writeTextFile(dir + "/list.csv", deviceList("address,whole", devices, 3, [](int) { return ",no"; }));
    for (int run = 0; run < 2; ++run) {
        FleetAgainstSim r = runFleetAgainstSim(dir, "127.0.3.1-127.0.3." + std::to_string(devices),
                                               sendingJava({"-P", "pw", "--report", "r.jsonl"}));
        EXPECT_EQ(r.fleet.status, 0) << r.fleet.output << r.fleet.errors;
    }
    std::string report = readText(dir + "/r.jsonl");
    std::vector<std::string> lines = linesWith(report, {"\"address\":"});
    ASSERT_EQ(lines.size(), 2u * devices);
    for (const std::string& line : lines)
        EXPECT_EQ(withFixedTimes(line),
                  ledgerLine(line.substr(line.find("127.0.3."), 9), sha256sumOf(dir + "/java.enc")));
    // Each run says first what it plans and last how it ended.
    EXPECT_EQ(linesWith(report, {"{\"line\":\"run\"", "\"site\":\"list\"", "\"devices\":" +
                                 std::to_string(devices) + ",", "\"packaged\":true"}).size(), 2u);
    EXPECT_EQ(linesWith(report, {"{\"line\":\"end\"", "\"ended\":\"completed\",\"updated\":" +
                                 std::to_string(devices) + ","}).size(), 2u);
}

TEST(VNfleetLedger, ResumeSkipsOnlyADeviceHoldingThisImageAfterATornTail)
{
    std::string dir = fleetFolder();
    std::string sha = sha256sumOf(dir + "/java.enc");
    writeTextFile(dir + "/list.csv", "address\n127.0.3.3\n127.0.3.4\n");
    // .3 holds an older release; a crash cut the last line short, or a
    // power cut left NUL bytes.
    for (const std::string& tail : {std::string("{\"add"), std::string(9, '\0')}) {
        std::string before = ledgerRunLine("list") + ledgerLine("127.0.3.4", sha) +
                             ledgerLine("127.0.3.3", std::string(64, '0')) + tail;
        writeTextFile(dir + "/run.jsonl", before);
        FleetAgainstSim r = runFleetAgainstSim(
            dir, "127.0.3.3-127.0.3.3",
            sendingJava({"-P", "pw", "--resume", "run.jsonl", "--report", "run.jsonl"}));
        EXPECT_EQ(r.fleet.status, 0) << r.fleet.output << r.fleet.errors;
        EXPECT_EQ(r.fleet.errors, "VNfleet: run.jsonl line 4: half-written, ignored\n");
        EXPECT_TRUE(holds(r.fleet.output, "127.0.3.4 skipped")) << r.fleet.output;
        std::string after = readText(dir + "/run.jsonl");
        EXPECT_EQ(after.substr(0, before.size()), before);
        // The resumed report's own lines stay; the torn tail gets its line
        // end, then this run's lines follow: .4 skipped, .3 updated.
        EXPECT_EQ(after.substr(before.size(), 15), "\n{\"line\":\"run\",") << after;
        EXPECT_EQ(linesWith(after, {"127.0.3.4", "\"skipped\""}).size(), 1u) << after;
        EXPECT_EQ(linesWith(after, {"127.0.3.3", "\"updated\"", sha}).size(), 1u) << after;
        ProgramResult summary = runProgram("VNfleet", {"--summary", "run.jsonl"}, startupMs(), dir);
        EXPECT_EQ(summary.status, 0) << summary.output;
        EXPECT_EQ(summary.errors, "VNfleet: run.jsonl line 4: half-written, ignored\n");
    }
    ProgramResult folder = runProgram("VNfleet", sendingJava({"--resume", "."}), startupMs(), dir);
    EXPECT_EQ(folder.status, 2) << folder.errors;
}

TEST(VNfleetLedger, InterruptedResumeKeepsTheSkippedDevicesRecord)
{
    if (programsUnderWine())
        GTEST_SKIP() << "a signal is no console event under Wine";
    std::string dir = fleetFolder();
    writeTextFile(dir + "/before.jsonl",
                  ledgerRunLine("list") + ledgerLine("127.0.3.6", sha256sumOf(dir + "/java.enc")));
    RunningProgram fleet = startFleet(dir, "127.0.3.5\n127.0.3.6\n",
                                      {"-j", "1", "--resume", "before.jsonl", "--report", "after.jsonl"});
    usleep(300 * 1000);
    kill(fleet.pid, SIGINT);
    EXPECT_EQ(finishProgram(fleet, 2000).status, 3);
    std::string after = readText(dir + "/after.jsonl");
    EXPECT_EQ(linesWith(after, {"127.0.3.6", "\"skipped\""}).size(), 1u) << after;
}

TEST(VNfleetLedger, FullDiskStopsTheRolloutWithWholeLines)
{
    if (programsUnderWine())
        GTEST_SKIP() << "the small cases run under Wine";
    std::string dir = fleetFolder();
    std::string full = dir + "/full";
    mkdir(full.c_str(), 0700);
    // One page of tmpfs: room for about a dozen lines.
    if (std::system(("mount -t tmpfs -o size=4k tmpfs " + full + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    writeTextFile(dir + "/list.csv", deviceList("address", 40, 4));
    FleetAgainstSim r = runFleetAgainstSim(dir, "127.0.4.1-127.0.4.40",
                                           sendingJava({"-j", "2", "-P", "pw", "--report", "full/r.jsonl"}));
    std::string report = readText(full + "/r.jsonl");
    std::system(("umount " + full).c_str());
    EXPECT_EQ(r.fleet.status, 5) << r.fleet.output;
    EXPECT_EQ(r.fleet.errors,
              "VNfleet: cannot write the report full/r.jsonl: No space left on device\n");
    std::vector<std::string> lines = linesWith(report, {"\"address\":"});
    EXPECT_GT(lines.size(), 5u);
    EXPECT_EQ(report.size(), report.rfind("}\n") + 2) << "a half line: " << report;
    // What ended after the failure is on standard output only; nothing more
    // started: two devices sending pages, and those whose finish packet was
    // out (they hold no -j slot).
    std::size_t ended = linesWith(r.fleet.output, {" updated: "}).size();
    EXPECT_LE(ended, lines.size() + 4);
    EXPECT_TRUE(holds(r.fleet.output, " not started"));
    EXPECT_FALSE(holds(r.fleet.output, " 0 not started")) << r.fleet.output;
}

TEST(VNfleetLedger, AnOutputNamingAnInputOrAFolderIsRefused)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.3.7\n");
    writeTextFile(dir + "/debug.log", "kept\n");
    writeTextFile(dir + "/pw.txt", "pw\n");
    chmod((dir + "/pw.txt").c_str(), 0600);
    const std::vector<std::vector<std::string>> cases = {
        {"--report", "pw.txt", "--password-file", "pw.txt"},
        {"--report", "list.csv"},
        {"--report", "./java.enc"},
        {"--report", "debug.log", "--debug-log", "debug.log"},
        {"--report", "."},
        {"--debug-log", "list.csv"},
    };
    std::vector<unsigned char> list = readFile(dir + "/list.csv");
    std::vector<unsigned char> image = readFile(dir + "/java.enc");
    for (const std::vector<std::string>& options : cases) {
        SCOPED_TRACE(options[1]);
        ProgramResult r = runProgram("VNfleet", sendingJava(options), startupMs(), dir);
        EXPECT_EQ(r.status, 2) << r.errors;
        EXPECT_TRUE(holds(r.errors, "VNfleet: the ")) << r.errors;
        EXPECT_TRUE(readFile(dir + "/list.csv") == list && readFile(dir + "/java.enc") == image);
        EXPECT_EQ(readText(dir + "/debug.log"), "kept\n");
    }
}
