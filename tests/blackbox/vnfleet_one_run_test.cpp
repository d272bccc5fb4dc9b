// One run per ledger: the lock, the run's own record of what it planned, and
// outputs known by what file they are, not by their names.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "fleet_runs.h"

namespace {
bool waitForFile(const std::string& path, const std::string& part, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 50, usleep(50 * 1000))
        if (holds(readText(path), part))
            return true;
    return false;
}

bool exists(const std::string& path)
{
    struct stat info{};
    return stat(path.c_str(), &info) == 0;
}
}  // namespace

TEST(VNfleetOneRun, ASecondRunOnTheReportByAnyNameStopsAndAKilledRunIsUnfinished)
{
    std::string dir = fleetFolder();
    // No device answers: each takes three seconds to fail.
    RunningProgram first = startFleet(dir, "127.0.3.20\n127.0.3.21\n127.0.3.22\n",
                                      {"-j", "1", "--tries", "2", "--report", "r.jsonl"});
    ASSERT_TRUE(waitForFile(dir + "/r.jsonl", "{\"line\":\"run\"", startupMs())) << first.output;
    ASSERT_EQ(link((dir + "/r.jsonl").c_str(), (dir + "/link.jsonl").c_str()), 0);
    ProgramResult second = runProgram(
        "VNfleet", sendingJava({"-P", "pw", "--resume", "link.jsonl", "--report", "other.jsonl"}),
        startupMs(), dir);
    EXPECT_EQ(second.status, 2);
    EXPECT_EQ(second.errors, "VNfleet: the report link.jsonl is in use by another run\n");
    EXPECT_FALSE(exists(dir + "/other.jsonl"));
    ProgramResult running = runProgram("VNfleet", {"--summary", "link.jsonl"}, startupMs(), dir);
    EXPECT_EQ(running.status, 4);
    EXPECT_TRUE(holds(running.output, "unfinished (no end line): 3 devices planned")) << running.output;
    ASSERT_TRUE(waitForFile(dir + "/r.jsonl", "127.0.3.20\",\"file\"", 5000));
    kill(first.pid, SIGKILL);
    finishProgram(first, startupMs());
    ProgramResult killed = runProgram("VNfleet", {"--summary", "r.jsonl"}, startupMs(), dir);
    EXPECT_EQ(killed.status, 4);
    EXPECT_TRUE(holds(killed.output, " 127.0.3.22 no record: the run did not end\n")) << killed.output;
    std::string report = readText(dir + "/r.jsonl");
    EXPECT_EQ(linesWith(report, {"{\"line\":\"run\""}).size(), 1u) << report;
    EXPECT_EQ(linesWith(report, {"127.0.3.20\",\"file\""}).size(), 1u) << report;
    // The lock went with the process.
    ProgramResult third = runProgram(
        "VNfleet", sendingJava({"--tries", "1", "--min-wait-ms", "100", "--report", "link.jsonl"}),
        startupMs() + 2000, dir);
    EXPECT_EQ(third.status, 4) << third.errors;
}

TEST(VNfleetOneRun, ResumeSkipsOnlyLinesOfItsSiteThatSayHowTheFileWasSent)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.3.23\n");
    std::string line = ledgerLine("127.0.3.23", sha256sumOf(dir + "/java.enc"));
    std::string older = line;
    older.erase(older.find(",\"packaged\":true"), 16);
    writeTextFile(dir + "/north.jsonl", ledgerRunLine("north") + line);
    writeTextFile(dir + "/older.jsonl", ledgerRunLine("north") + older);
    const struct {
        std::vector<std::string> args;
        std::string plan;
        std::string errors;
    } cases[] = {
        {{"--site", "north", "--resume", "north.jsonl"}, "0 devices", ""},
        {{"--resume", "north.jsonl"}, "1 devices", "VNfleet: 1 device of site north in north.jsonl ignored\n"},
        {{"--site", "north", "--resume", "older.jsonl"}, "1 devices", ""},
        {{"-NE", "-T", "J", "--allow-unfit", "--site", "north", "--resume", "north.jsonl"},
         "1 devices", "sent anyway (--allow-unfit)\n"},
        {{"--resume", "new.jsonl", "--report", "new.jsonl"}, "1 devices",
         "VNfleet: the report to resume from new.jsonl does not exist yet: nothing to skip\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--dry-run");
        ProgramResult r = runProgram("VNfleet", sendingJava(args), startupMs(), dir);
        EXPECT_EQ(r.status, 0) << r.errors;
        EXPECT_TRUE(holds(r.output, "VNfleet: plan: " + c.plan + ",")) << c.args[1] << r.output;
        if (c.errors.empty())
            EXPECT_EQ(r.errors, "");
        else
            EXPECT_TRUE(holds(r.errors, c.errors)) << r.errors;
    }
    // A dry run makes nothing.
    EXPECT_FALSE(exists(dir + "/new.jsonl"));
}

TEST(VNfleetOneRun, AnOutputThatIsAnInputTheOtherOutputOrNoFileIsRefused)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.3.24\n");
    writeTextFile(dir + "/r.jsonl", ledgerRunLine("list"));
    const struct {
        std::vector<std::string> args;
        std::string errors;
    } cases[] = {
        {{"--resume", "r.jsonl", "--debug-log", "r.jsonl"},
         "VNfleet: the debug log r.jsonl is the report to resume from\n"},
        {{"--report", "run.jsonl", "--debug-log", "./run.jsonl"},
         "VNfleet: the report run.jsonl is also the other output\n"},
        {{"--report", "/dev/null"},
         "VNfleet: the report /dev/null is not a regular file (to keep no report, give no --report)\n"},
        {{"--report", "none/r.jsonl", "--dry-run"},
         "VNfleet: cannot write the report none/r.jsonl: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        ProgramResult r = runProgram("VNfleet", sendingJava(c.args), startupMs(), dir);
        EXPECT_EQ(r.status, 2) << c.args[1];
        EXPECT_EQ(r.errors, c.errors);
    }
    EXPECT_EQ(readText(dir + "/r.jsonl"), ledgerRunLine("list"));
    EXPECT_FALSE(exists(dir + "/run.jsonl"));
}

TEST(VNfleetOneRun, AWriteOverTheFileSizeLimitIsAWriteError)
{
    if (programsUnderWine())
        GTEST_SKIP() << "no file size limit on Windows";
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", deviceList("address", 10, 6));
    RunningProgram sim = startDevices({"--devices", "127.0.6.1-127.0.6.10", "-P", "pw", "-K",
                                       "fleet-key", "-o", dir, "--idle-ms", "3000"}, dir);
    ASSERT_TRUE(waitForOutput(sim, "listening on", startupMs())) << sim.output;
    // Two blocks of 512 bytes: the run line and a device line or two.
    int status = std::system(("cd " + dir + " && ulimit -f 2 && " + programPath("VNfleet") +
                              " -j 1 -P pw -f java.enc --report r.jsonl list.csv > out 2> err")
                                 .c_str());
    stopProgram(sim);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 5);
    EXPECT_EQ(readText(dir + "/err"), "VNfleet: cannot write the report r.jsonl: File too large\n");
    std::string report = readText(dir + "/r.jsonl");
    EXPECT_EQ(report.size(), report.rfind("}\n") + 2) << "a half line: " << report;
    EXPECT_TRUE(holds(readText(dir + "/out"), " not started;")) << readText(dir + "/out");
}
