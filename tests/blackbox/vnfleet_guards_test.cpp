// VNfleet's guards for a rollout: who may answer for a device, the finish
// packet, limits and signals, lists as spreadsheets write them, canaries.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "fleet_runs.h"

namespace {
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

TEST(VNfleetGuards, AnAckFromAnotherHostOrPortIsDroppedAndCounted)
{
    // The device stays silent; a stranger acknowledges every packet it
    // sends: another host, then the device's own address from another port.
    for (const char* stranger : {"127.0.3.9", "127.0.3.8"}) {
        std::string dir = fleetFolder();
        RunningProgram fleet = startFleet(
            dir, "127.0.3.8\n", {"--tries", "2", "--min-wait-ms", "100", "--report", "r.jsonl"});
        actAsDevice("127.0.3.8", stranger, true, 1500);
        EXPECT_EQ(finishProgram(fleet, startupMs()).status, 4) << stranger;
        std::string report = readText(dir + "/r.jsonl");
        EXPECT_EQ(linesWith(report, {"\"reason\":\"no reply\"", "\"foreign\":2,"}).size(), 1u)
            << stranger << ": " << report;
    }
}

TEST(VNfleetGuards, TheFinishPacketWaitsVNloadersWholeWaitBeforeItGoesAgain)
{
    std::string dir = fleetFolder();
    RunningProgram fleet = startFleet(dir, "127.0.3.10\n", {"--min-wait-ms", "100"});
    EXPECT_EQ(actAsDevice("127.0.3.10", nullptr, false, 2000), 1);
    stopProgram(fleet);
}

TEST(VNfleetGuards, InFlightDevicesStayWithinTheOpenFileLimit)
{
    if (programsUnderWine())
        GTEST_SKIP() << "Windows sets no open-file limit";
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", deviceList("address", 200, 5));
    // A limit of 64 that not even root may raise.
    int status = shellWithSim(dir, "127.0.5.1-127.0.5.250",
                              "setpriv --bounding-set=-sys_resource prlimit --nofile=64:64 " +
                                  programPath("VNfleet") +
                                  " -j 200 -P pw -f java.enc list.csv > out 2> err");
    EXPECT_EQ(status, 0) << readText(dir + "/out");
    EXPECT_EQ(readText(dir + "/err"),
              "VNfleet: at most 48 devices in flight: the open-file limit is 64\n");
    EXPECT_TRUE(holds(readText(dir + "/out"), "200 updated, 0 failed"));
}

TEST(VNfleetGuards, HangUpEndsARunAsCtrlCAndAClosedOutputDoesNot)
{
    if (programsUnderWine())
        GTEST_SKIP() << "a signal is no console event under Wine";
    std::string dir = fleetFolder();
    RunningProgram fleet = startFleet(dir, "127.0.3.11\n127.0.3.12\n", {"-j", "1"});
    usleep(300 * 1000);
    kill(fleet.pid, SIGHUP);
    ProgramResult r = finishProgram(fleet, 2000);
    EXPECT_EQ(r.status, 3) << r.output;
    EXPECT_TRUE(holds(r.output, "1 interrupted, 0 skipped, 1 not started"));
    // Standard output closed at once: every device is still sent and recorded.
    writeTextFile(dir + "/list.csv", "address\n127.0.5.1\n127.0.5.2\n");
    int status = shellWithSim(dir, "127.0.5.1-127.0.5.9",
                              "{ " + programPath("VNfleet") + " -P pw -f java.enc --report r.jsonl "
                              "list.csv; echo $? > status; } | true");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readText(dir + "/status"), "0\n");
    EXPECT_EQ(linesWith(readText(dir + "/r.jsonl"), {"\"result\":\"updated\""}).size(), 2u);
}

TEST(VNfleetGuards, ListsAreReadAsSpreadsheetsWriteThem)
{
    std::string dir = fleetFolder();
    mkdir((dir + "/site").c_str(), 0700);
    writeFile(dir + "/site/java.enc", readFile(dir + "/java.enc"));
    // A byte-order mark, semicolons, spaces, any case, an indented comment,
    // a cleared row; the file cell is taken from the list's folder.
    writeTextFile(dir + "/site/list.csv",
                  "\xEF\xBB\xBF Address ; PASSWORD;File;Whole\r\n"
                  "  # cabinet A\r\n"
                  ";; ;\t;\r\n"
                  "127.0.3.13 ; pw ; java.enc ; FALSE\r\n"
                  "127.0.3.14;\" pw \";java.enc;No\r\n");
    std::remove((dir + "/java.enc").c_str());
    // Wine holds one emulated device on loopback: the other gets no reply.
    FleetAgainstSim r = runFleetAgainstSim(
        dir, programsUnderWine() ? "127.0.3.13-127.0.3.13" : "127.0.3.13-127.0.3.14",
        {"--tries", "2", "--min-wait-ms", "50", "site/list.csv"});
    EXPECT_EQ(r.fleet.status, 4) << r.fleet.errors;
    EXPECT_TRUE(holds(r.fleet.output, "127.0.3.13 updated: site/java.enc")) << r.fleet.output;
    // A quoted password keeps its spaces.
    if (!programsUnderWine()) {
        EXPECT_TRUE(holds(r.fleet.output,
                          "127.0.3.14 failed: site/java.enc: You entered the wrong Set Password"));
    }
}

TEST(VNfleetGuards, CanariesGoFirstAndFailuresStopTheRollout)
{
    if (programsUnderWine())
        GTEST_SKIP() << "Wine holds one emulated device on loopback";
    struct Case {
        std::vector<std::string> options;
        std::string passwords;  // a letter per device: g the good one, b a bad one
        int status;
        std::string summary;
    };
    const std::vector<Case> cases = {
        {{"--canary", "2"}, "bggg", 4,
         "VNfleet: no further device started: not every canary device was updated (--canary)\n"
         "VNfleet: 4 devices: 1 updated, 1 failed, 0 interrupted, 0 skipped, 2 not started"},
        {{"--canary", "1"}, "ggg", 0, "VNfleet: 3 devices: 3 updated, 0 failed"},
        {{"-j", "1", "--max-failed", "1"}, "bbgg", 4,
         "VNfleet: no further device started: more than 1 device failed (--max-failed)\n"
         "VNfleet: 4 devices: 0 updated, 2 failed, 0 interrupted, 0 skipped, 2 not started"},
        {{"-j", "1", "--max-failed", "50%"}, "bgbg", 4, "VNfleet: 4 devices: 2 updated, 2 failed"},
    };
    std::string dir = fleetFolder();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.passwords);
        writeTextFile(dir + "/list.csv",
                      deviceList("address,password", static_cast<int>(c.passwords.size()), 6,
                                 [&](int i) { return c.passwords.at(i) == 'g' ? ",pw" : ",bad"; }));
        FleetAgainstSim r = runFleetAgainstSim(dir, "127.0.6.1-127.0.6.4", sendingJava(c.options));
        EXPECT_EQ(r.fleet.status, c.status) << r.fleet.output;
        EXPECT_TRUE(holds(r.fleet.output, c.summary)) << r.fleet.output;
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
    writeTextFile(dir + "/list.csv", deviceList("address,file", 300, 7, [&](int i) {
                      std::string name = "p" + std::to_string(i) + ".htm";
                      link((dir + "/page.htm").c_str(), (dir + "/" + name).c_str());
                      return "," + name;
                  }));
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
    RunningProgram fleet = startFleet(dir, "127.0.3.16\n", {"--debug-log", "debug.log"});
    // The device writes its image, then says so.
    actAsDevice("127.0.3.16", nullptr, true, 300);
    sendDatagram(9029, "image written");
    finishProgram(fleet, startupMs());
    EXPECT_TRUE(holds(readText(dir + "/debug.log"), ": image written"));
}

TEST(VNfleetGuards, TheDryRunCountsOnlyWhatItWouldSendAndTTakesOneLetter)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address,file\n127.0.3.17,java.enc\n127.0.3.18,app.enc\n");
    writeFile(dir + "/app.enc", readFile(dir + "/java.enc"));
    writeTextFile(dir + "/run.jsonl",
                  ledgerRunLine("list") + ledgerLine("127.0.3.17", sha256sumOf(dir + "/java.enc")));
    ProgramResult plan = runProgram("VNfleet", {"--resume", "run.jsonl", "--dry-run", "list.csv"},
                                    startupMs(), dir);
    EXPECT_EQ(plan.output.substr(0, plan.output.find("device ")),
              "VNfleet: plan: 1 device, 1 file, 20 pages, 6 packets\n"
              "file app.enc: Java from an update package, pages 1427 to 1446 (20 pages, 5 "
              "packets and the finish packet), 1 device\n");
    ProgramResult word = runProgram("VNfleet", {"-NE", "-T", "Main", "-f", "x", "list.csv"},
                                    startupMs(), dir);
    EXPECT_EQ(word.status, 1);
    EXPECT_EQ(word.errors.rfind("VNfleet: bad value for -T: Main\n", 0), 0u) << word.errors;
    for (const char* option : {"--password-file", "-f", "--report", "--resume", "--debug-log"}) {
        ProgramResult empty = runProgram("VNfleet", {option, "", "list.csv"}, startupMs(), dir);
        EXPECT_EQ(empty.status, 1) << option;
        EXPECT_EQ(empty.errors.rfind(std::string("VNfleet: bad value for ") + option + ": \n", 0), 0u)
            << empty.errors;
    }
}

TEST(VNfleetGuards, AFileVNinfoCallsUnfitStopsTheRunUnlessAllowed)
{
    std::string dir = makeTempDir();
    const std::string record = ":0400000001020304F2\r\n";
    // Cut at a line end: no end-of-file record; two files joined with cat.
    writeTextFile(dir + "/cut.hex", record);
    writeTextFile(dir + "/joined.hex",
                  record + ":00000001FF\r\n:0400100005060708D2\r\n:00000001FF\r\n");
    writeTextFile(dir + "/list.csv", "address\n127.0.3.19\n");
    const std::pair<const char*, std::string> cases[] = {
        {"cut.hex", "VNfleet: list.csv line 2: VNinfo calls cut.hex unfit (status 10, a HEX file has "
                    "no end-of-file record: it may be cut or still being written): no end-of-file record"},
        {"joined.hex", "VNfleet: list.csv line 2: VNinfo calls joined.hex unfit (status 11, data "
                       "records after the end-of-file record: other tools stop there, VNloader sends "
                       "them): 1 data record after the end-of-file record on line 2"},
    };
    for (const auto& [file, finding] : cases)
        for (bool allowed : {false, true}) {
            std::vector<std::string> args{"-NE", "-T", "M", "-f", file, "--dry-run", "list.csv"};
            if (allowed)
                args.insert(args.begin(), "--allow-unfit");
            ProgramResult r = runProgram("VNfleet", args, startupMs(), dir);
            EXPECT_EQ(r.status, allowed ? 0 : 2) << r.errors;
            EXPECT_EQ(r.errors.rfind(finding, 0), 0u) << r.errors;
            EXPECT_EQ(r.output.find("VNfleet: plan: 1 device,") == 0, allowed) << r.output;
        }
}

TEST(VNfleetGuards, DeadlineEndsARunAsCtrlCWithEveryLineWritten)
{
    std::string dir = fleetFolder();
    RunningProgram fleet = startFleet(dir, "127.0.3.11\n127.0.3.12\n",
                                      {"-j", "1", "--deadline", "1", "--report", "r.jsonl"});
    ProgramResult r = finishProgram(fleet, startupMs() + 3000);
    EXPECT_EQ(r.status, 3) << r.output;
    EXPECT_TRUE(holds(r.output, "VNfleet: no further device started: the deadline passed\n"
                                "VNfleet: 2 devices: 0 updated, 0 failed, 1 interrupted, 0 skipped, "
                                "1 not started"))
        << r.output;
    EXPECT_EQ(linesWith(readText(dir + "/r.jsonl"), {"127.0.3.11", "stopped at the deadline"}).size(), 1u);
}
