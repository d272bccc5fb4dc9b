// What the many-sites rollout asks of VNfleet: the password from a file
// only its user may read, and every site's ledger summed up as one.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fleet_runs.h"

namespace {
const std::string LIST = "address\n127.0.5.1\n127.0.5.2\n";

// A folder with the package, the list and a report of both devices updated.
std::string updatedSite()
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", LIST);
    writeTextFile(dir + "/pw.txt", "pw\r\nnot the password\n");
    chmod((dir + "/pw.txt").c_str(), 0600);
    FleetAgainstSim r = runFleetAgainstSim(dir, "127.0.5.1-127.0.5.2",
                                           {"--password-file", "pw.txt", "-f", "java.enc",
                                            "--report", "site.jsonl", "list.csv"});
    EXPECT_EQ(r.fleet.status, 0) << r.fleet.output << r.fleet.errors;
    return dir;
}

const std::string& site()
{
    static const std::string dir = updatedSite();
    return dir;
}
}  // namespace

TEST(VNfleetSites, PasswordFileGivesTheDevicesTheirPassword)
{
    EXPECT_EQ(linesWith(readText(site() + "/site.jsonl"), {"\"result\":\"updated\""}).size(), 2u);
}

TEST(VNfleetSites, PasswordFileOthersMayReadOrCannotReadIsRefused)
{
    struct Case {
        std::string file;
        unsigned mode;
        int status;
        std::string errors;
    };
    // Windows keeps access lists, not these bits: no check there.
    const bool checked = !programsUnderWine();
    const std::vector<Case> cases = {
        {"pw.txt", 0640, checked ? 2 : 0,
         checked ? "VNfleet: other users may read the password file pw.txt: chmod 600 it\n" : ""},
        {"pw.txt", 0604, checked ? 2 : 0,
         checked ? "VNfleet: other users may read the password file pw.txt: chmod 600 it\n" : ""},
        {"none.txt", 0600, 2, "VNfleet: cannot read the password file: none.txt\n"},
        {".", 0700, 2, "VNfleet: cannot read the password file: .\n"},
    };
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", LIST);
    writeTextFile(dir + "/pw.txt", "pw\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " " + std::to_string(c.mode));
        chmod((dir + "/" + c.file).c_str(), c.mode);
        ProgramResult r = runProgram("VNfleet", {"--password-file", c.file, "-f", "java.enc",
                                                 "--dry-run", "list.csv"},
                                     fleetStartupMs(), dir);
        EXPECT_EQ(r.status, c.status) << r.errors;
        EXPECT_EQ(r.errors, c.errors);
    }
    ProgramResult both = runProgram("VNfleet", {"-P", "pw", "--password-file", "pw.txt", "-f",
                                                "java.enc", "list.csv"},
                                    fleetStartupMs(), dir);
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.errors.rfind("VNfleet: -P and --password-file: give one\n", 0), 0u);
}

TEST(VNfleetSites, SummaryCountsEveryLedgerAndNamesWhatIsNotUpdated)
{
    const std::string dir = site();
    const std::string sha = sha256sumOf(dir + "/java.enc");
    writeTextFile(dir + "/other.jsonl",
                  "{\"address\":\"127.0.5.1\",\"file\":\"java.enc\",\"result\":\"failed\","
                  "\"reason\":\"no reply\",\"sha256\":\"" + sha + "\",\"type\":\"J\","
                  "\"whole\":false}\n{\"address\":\"127.0.5.2\",\"fi");
    ProgramResult one = runProgram("VNfleet", {"--summary", "site.jsonl"}, fleetStartupMs(), dir);
    EXPECT_EQ(one.status, 0) << one.errors;
    ProgramResult r = runProgram("VNfleet", {"--summary", "site.jsonl", "other.jsonl"},
                                 fleetStartupMs(), dir);
    EXPECT_EQ(r.status, 4) << r.errors;
    const std::string image = "  image " + sha + " java.enc: ";
    EXPECT_EQ(r.output,
              "report site.jsonl: 2 devices: 2 updated, 0 failed, 0 interrupted, 0 skipped\n" +
                  image + "2 devices: 2 updated, 0 failed, 0 interrupted, 0 skipped\n"
                  "report other.jsonl: 1 device: 0 updated, 1 failed, 0 interrupted, 0 skipped\n" +
                  image + "1 device: 0 updated, 1 failed, 0 interrupted, 0 skipped\n"
                  "total of 2 reports: 3 devices: 2 updated, 1 failed, 0 interrupted, 0 skipped\n" +
                  image + "3 devices: 2 updated, 1 failed, 0 interrupted, 0 skipped\n"
                  "not updated: 1 device\n"
                  "  other.jsonl 127.0.5.1 failed: java.enc: no reply\n");
    EXPECT_EQ(r.errors, "VNfleet: other.jsonl line 2: half-written, ignored\n");
    ProgramResult json = runProgram("VNfleet", {"--summary", "--json", "site.jsonl", "other.jsonl"},
                                    fleetStartupMs(), dir);
    EXPECT_EQ(json.status, 4);
    EXPECT_EQ(json.output.rfind("{\"reports\":[{\"report\":\"site.jsonl\",\"devices\":2,", 0), 0u)
        << json.output;
}

TEST(VNfleetSites, SummaryOfAnUnreadableReportEndsWithTwo)
{
    const std::string dir = site();
    writeTextFile(dir + "/bad.jsonl", "not a report\n{}\n");
    const std::pair<std::string, std::string> cases[] = {
        {"missing.jsonl", "VNfleet: cannot read the report: missing.jsonl\n"},
        {".", "VNfleet: cannot read the report: .\n"},
        {"bad.jsonl", "VNfleet: bad.jsonl line 1: not a report line\n"},
    };
    for (const auto& [report, errors] : cases) {
        ProgramResult r = runProgram("VNfleet", {"--summary", "site.jsonl", report},
                                     fleetStartupMs(), dir);
        EXPECT_EQ(r.status, 2) << report;
        EXPECT_EQ(r.errors, errors);
        EXPECT_EQ(r.output, "");
    }
    ProgramResult mixed = runProgram("VNfleet", {"--summary", "-P", "pw", "site.jsonl"},
                                     fleetStartupMs(), dir);
    EXPECT_EQ(mixed.status, 1);
}
