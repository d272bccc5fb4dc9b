// VNfleet's summary of ledgers and its password file's first line.
#include <gtest/gtest.h>

#include "fleet_password.h"
#include "fleet_summary.h"

namespace {
std::string runLine(const std::string& id, const std::string& site,
                    const std::string& addresses)
{
    return "{\"line\":\"run\",\"run\":\"" + id + "\",\"site\":\"" + site +
           "\",\"addresses\":[" + addresses + "]}\n";
}

std::string deviceLine(const std::string& run, const std::string& address,
                       const std::string& result, const std::string& sha256,
                       const std::string& reason = "")
{
    return "{\"run\":\"" + run + "\",\"address\":\"" + address + "\",\"file\":\"main.enc\","
           "\"result\":\"" + result + "\",\"reason\":\"" + reason + "\",\"sha256\":\"" + sha256 +
           "\",\"type\":\"M\",\"whole\":false,\"packaged\":true}\n";
}

std::string endLine(const std::string& run)
{
    return "{\"line\":\"end\",\"run\":\"" + run + "\",\"ended\":\"completed\"}\n";
}

void add(FleetSummary* summary, const std::string& report, const std::string& text)
{
    LedgerContents contents;
    ASSERT_TRUE(parseLedger(text, report, &contents)) << text;
    addToSummary(report, contents, summary);
}
}  // namespace

TEST(FleetPassword, FirstLineWithoutItsLineEndOrAByteOrderMark)
{
    const std::pair<const char*, const char*> cases[] = {
        {"p w", "p w"}, {"p w\n", "p w"}, {"p w\r\nsecond\n", "p w"},
        {"p\rw", "p\rw"},  // a CR alone ends no line
        {"\xEF\xBB\xBFpw\r\n", "pw"},
        {"", nullptr}, {"\nsecond\n", nullptr}, {"\r\n", nullptr}, {"\xEF\xBB\xBF\n", nullptr},
    };
    for (const auto& [text, password] : cases) {
        std::string got;
        EXPECT_EQ(passwordOfText(text, &got), password != nullptr) << text;
        EXPECT_EQ(got, password ? password : "") << text;
    }
}

TEST(FleetSummary, CountsEachReportAndJudgesEachSitesLatestRun)
{
    // Two sites that reuse an address: each counts on its own. North's
    // second run was killed after one device: .7 has no line in it.
    FleetSummary summary;
    add(&summary, "north.jsonl",
        runLine("n1", "north", "\"10.0.0.9\"") + deviceLine("n1", "10.0.0.9", "updated", "aa") +
            endLine("n1") + runLine("n2", "north", "\"10.0.0.9\",\"10.0.0.10\",\"10.0.0.7\"") +
            deviceLine("n2", "10.0.0.9", "failed", "bb", "no reply") +
            deviceLine("n2", "10.0.0.10", "updated", "bb"));
    add(&summary, "south.jsonl",
        runLine("s1", "south", "\"10.0.0.9\"") + deviceLine("s1", "10.0.0.9", "skipped", "bb") +
            endLine("s1"));
    add(&summary, "empty.jsonl", "");
    EXPECT_EQ(summaryText(summary),
              "report north.jsonl: 2 devices: 1 updated, 1 failed, 0 interrupted, 0 skipped, 0 not started\n"
              "  image bb main.enc: 2 devices: 1 updated, 1 failed, 0 interrupted, 0 skipped, 0 not started\n"
              "report south.jsonl: 1 device: 0 updated, 0 failed, 0 interrupted, 1 skipped, 0 not started\n"
              "  image bb main.enc: 1 device: 0 updated, 0 failed, 0 interrupted, 1 skipped, 0 not started\n"
              "report empty.jsonl: 0 devices: 0 updated, 0 failed, 0 interrupted, 0 skipped, 0 not started\n"
              "total of 3 reports: 3 devices: 1 updated, 1 failed, 0 interrupted, 1 skipped, 0 not started\n"
              "  image bb main.enc: 3 devices: 1 updated, 1 failed, 0 interrupted, 1 skipped, 0 not started\n"
              "latest runs: 2 sites\n"
              "  north.jsonl site north: run n2 unfinished (no end line): 3 devices planned\n"
              "  south.jsonl site south: run s1 completed: 1 device planned\n"
              "  empty.jsonl: no run\n"
              "not updated: 2 devices\n"
              "  north.jsonl 10.0.0.9 failed: main.enc: no reply\n"
              "  north.jsonl 10.0.0.7 no record: the run did not end\n");
    EXPECT_FALSE(allUpdated(summary));
}

TEST(FleetSummary, JsonHoldsTheSame)
{
    FleetSummary summary;
    add(&summary, "a\"b.jsonl",
        runLine("r", "s\\tt", "\"10.0.0.1\"") +
            deviceLine("r", "10.0.0.1", "not started", "", "stopped"));
    const std::string counts = "\"devices\":1,\"results\":{\"updated\":0,\"failed\":0,"
                               "\"interrupted\":0,\"skipped\":0,\"not started\":1}";
    const std::string tally = counts + ",\"images\":[{\"sha256\":\"\",\"file\":\"main.enc\"," +
                              counts + "}]}";
    EXPECT_EQ(summaryJson(summary),
              "{\"reports\":[{\"report\":\"a\\\"b.jsonl\"," + tally + "],\"total\":{\"reports\":1," +
                  tally + ",\"runs\":[{\"report\":\"a\\\"b.jsonl\",\"site\":\"s\\tt\",\"run\":\"r\","
                  "\"ended\":null,\"devices\":1}],\"no_run\":[],\"not_updated\":[{\"report\":"
                  "\"a\\\"b.jsonl\",\"site\":\"s\\tt\",\"address\":\"10.0.0.1\",\"file\":\"main.enc\","
                  "\"sha256\":\"\",\"result\":\"not started\",\"reason\":\"stopped\"}]}\n");
    summary = FleetSummary{};
    add(&summary, "a", runLine("r", "s\\tt", "") + endLine("r"));
    EXPECT_TRUE(allUpdated(summary));
    EXPECT_NE(summaryText(summary).find("site s\tt: run r completed"), std::string::npos);
}

TEST(FleetLedgerReader, TornTailsAreIgnoredAndOtherBadLinesRefused)
{
    const std::string good = runLine("r", "n", "\"10.0.0.1\"") +
                             deviceLine("r", "10.0.0.1", "updated", "aa");
    const struct {
        std::string text;
        bool read;
    } cases[] = {
        {good + "{\"add", true},                       // a crash mid-line
        {good + std::string(40, '\0'), true},          // a power cut's NUL bytes
        {good + "{\"add\n" + good, true},              // a later run follows the tail
        {"\xEF\xBB\xBF" + good, true},                 // a byte-order mark
        {good + deviceLine("r", "10.0.0.1", "updated", "aa") + " \r\n", true},
        {"{\"add\n" + deviceLine("r", "10.0.0.1", "updated", "aa"), false},
        {good + "[1]\n" + deviceLine("r", "10.0.0.1", "updated", "aa"), false},
        {good + "{\"address\":\"10.0.0.2\"}\n", false},  // whole, but not a report line
        {"\xFF\xFE{\0\"\0", false},                    // UTF-16
    };
    for (const auto& c : cases) {
        LedgerContents contents;
        EXPECT_EQ(parseLedger(c.text, "r.jsonl", &contents), c.read) << c.text;
        if (c.read) {
            EXPECT_EQ(contents.last["n"].size(), 1u) << c.text;
        }
    }
}

TEST(FleetLedgerReader, AnIdentityWithoutHowItWasSentMatchesNone)
{
    LedgerContents contents;
    ASSERT_TRUE(parseLedger(
        "{\"sha256\":\"aa\",\"result\":\"updated\",\"reason\":\"\",\"address\":\"10.0.0.1\","
        "\"type\":\"M\",\"whole\":false}\n" +
            deviceLine("", "10.0.0.2", "updated", "aa"),
        "old.jsonl", &contents));
    const ImageIdentity packaged{"aa", 'M', false, true};
    EXPECT_FALSE(alreadyHolds(contents.last[""]["10.0.0.1"], packaged));
    EXPECT_TRUE(alreadyHolds(contents.last[""]["10.0.0.2"], packaged));
    EXPECT_FALSE(alreadyHolds(contents.last[""]["10.0.0.2"], ImageIdentity{"aa", 'M', false, false}));
}
