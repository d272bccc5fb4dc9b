// What the many-sites rollout asks of VNfleet: the password from a file
// only its user may read, and every site's ledger summed up as one.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fleet_runs.h"

namespace {
// A folder with the package, a list of two devices and a password file
// (beginning with a byte-order mark, as Notepad writes it), and an empty one.
std::string siteFolder()
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.5.1\n127.0.5.2\n");
    writeTextFile(dir + "/pw.txt", "\xEF\xBB\xBFpw\r\nnot the password\n");
    writeTextFile(dir + "/empty.txt", "\r\npw\n");
    chmod((dir + "/pw.txt").c_str(), 0600);
    return dir;
}
}  // namespace

TEST(VNfleetSites, PasswordFileGivesTheDevicesItsFirstLine)
{
    if (programsUnderWine())
        GTEST_SKIP() << "a fleet of two devices";
    const std::string dir = siteFolder();
    FleetAgainstSim r = runFleetAgainstSim(
        dir, "127.0.5.1-127.0.5.2", sendingJava({"--password-file", "pw.txt", "--report", "site.jsonl"}));
    EXPECT_EQ(r.fleet.status, 0) << r.fleet.output << r.fleet.errors;
    EXPECT_EQ(linesWith(readText(dir + "/site.jsonl"), {"\"result\":\"updated\""}).size(), 2u);
}

TEST(VNfleetSites, PasswordFileIsRefusedWhenOthersMayReadItOrItCannotBeReadOrIsEmpty)
{
    const std::string dir = siteFolder();
    // Windows keeps access lists, not these bits: no check there.
    const bool checked = !programsUnderWine();
    const struct {
        std::string file;
        unsigned mode;
        int status;
        std::string errors;
    } cases[] = {
        {"pw.txt", 0640, checked ? 2 : 0,
         checked ? "VNfleet: other users may read the password file pw.txt: chmod 600 it\n" : ""},
        {"none.txt", 0600, 2, "VNfleet: cannot read the password file: none.txt\n"},
        {".", 0700, 2, "VNfleet: cannot read the password file: .\n"},
        // What Windows PowerShell 5's > writes, and a file in a code page.
        {"pw16.txt", 0600, 2, "VNfleet: pw16.txt line 1: UTF-16 text: save the password file as UTF-8\n"},
        {"latin.txt", 0600, 2, "VNfleet: latin.txt line 1: not UTF-8 text: save the password file as UTF-8\n"},
        {"empty.txt", 0600, 2, "VNfleet: the password file is empty: empty.txt\n"},
    };
    writeTextFile(dir + "/pw16.txt", std::string("\xFF\xFEp\0w\0\r\0\n\0", 10));
    writeTextFile(dir + "/latin.txt", "Pa\xDFwort\n");
    for (const auto& c : cases) {
        chmod((dir + "/" + c.file).c_str(), c.mode);
        ProgramResult r = runProgram("VNfleet", sendingJava({"--password-file", c.file, "--dry-run"}),
                                     startupMs(), dir);
        EXPECT_EQ(r.status, c.status) << c.file;
        EXPECT_EQ(r.errors, c.errors);
    }
    // Even an empty -P is a second password.
    ProgramResult r = runProgram("VNfleet", sendingJava({"-P", "", "--password-file", "pw.txt"}),
                                 startupMs(), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(holds(r.errors, "VNfleet: -P and --password-file: give one\n")) << r.errors;
}

TEST(VNfleetSites, SummaryEndsWithZeroFourOrTwoAndNamesWhatIsNotUpdated)
{
    const std::string dir = makeTempDir();
    const std::string end = "{\"line\":\"end\",\"run\":\"r0\",\"ended\":\"completed\"}\n";
    writeTextFile(dir + "/site.jsonl", ledgerRunLine("site", "\"127.0.5.1\",\"127.0.5.2\"") +
                                           ledgerLine("127.0.5.1", "5ha") +
                                           ledgerLine("127.0.5.2", "5ha") + end);
    // Killed half way: .2 has no line and the run no end line.
    writeTextFile(dir + "/other.jsonl",
                  ledgerRunLine("other", "\"127.0.5.1\",\"127.0.5.2\"") +
                      "{\"run\":\"r0\",\"address\":\"127.0.5.1\",\"file\":\"java\\t.enc\","
                      "\"result\":\"failed\",\"reason\":\"no reply\"}\n{\"address\":\"127.0.5.2\",\"fi");
    writeTextFile(dir + "/bad.jsonl", "not a report\n" + ledgerLine("127.0.5.1", "5ha"));
    writeTextFile(dir + "/empty.jsonl", "");
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"site.jsonl"}, 0},      {{"site.jsonl", "other.jsonl"}, 4},
        {{"site.jsonl", "none.jsonl"}, 2}, {{"."}, 2}, {{"bad.jsonl"}, 2},
        {{"-P", "pw", "site.jsonl"}, 1}, {{"empty.jsonl"}, 4},
    };
    for (const auto& [reports, status] : cases) {
        std::vector<std::string> args{"--summary"};
        args.insert(args.end(), reports.begin(), reports.end());
        EXPECT_EQ(runProgram("VNfleet", args, startupMs(), dir).status, status) << args.back();
    }
    ProgramResult r = runProgram("VNfleet", {"--summary", "site.jsonl", "other.jsonl"},
                                 startupMs(), dir);
    EXPECT_TRUE(holds(r.output, "total of 2 reports: 3 devices: 2 updated, 1 failed, 0 interrupted, "
                                "0 skipped, 0 not started\n  image 5ha java.enc: 2 devices"))
        << r.output;
    EXPECT_TRUE(holds(r.output, "  other.jsonl site other: run r0 unfinished (no end line): 2 "
                                "devices planned\nnot updated: 2 devices\n  other.jsonl 127.0.5.1 "
                                "failed: java\t.enc: no reply\n  other.jsonl 127.0.5.2 no record: "
                                "the run did not end\n"))
        << r.output;
    EXPECT_EQ(r.errors, "VNfleet: other.jsonl line 3: half-written, ignored\n");
    EXPECT_TRUE(holds(runProgram("VNfleet", {"--summary", "empty.jsonl"}, startupMs(), dir).output,
                      "\n  empty.jsonl: no run\n"));
}
