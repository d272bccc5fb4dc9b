// VNfleet's summary of ledgers and its password file's first line.
#include <gtest/gtest.h>

#include "fleet_password.h"
#include "fleet_summary.h"

namespace {
LedgerEntry entry(int line, FleetResult result, const std::string& sha256,
                  const std::string& reason = "")
{
    return LedgerEntry{line, "main.enc", result, reason, ImageIdentity{sha256, 'M', false}};
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

TEST(FleetSummary, CountsEachReportAndTheTotalByResultAndImage)
{
    // Two sites that reuse an address: each counts on its own.
    FleetSummary summary;
    addToSummary("north.jsonl",
                 {{"10.0.0.9", entry(1, FleetResult::FAILED, "aa", "no reply")},
                  {"10.0.0.10", entry(2, FleetResult::UPDATED, "bb")},
                  {"10.0.0.2", entry(3, FleetResult::INTERRUPTED, "bb", "stopped by the operator")}},
                 &summary);
    addToSummary("south.jsonl", {{"10.0.0.9", entry(1, FleetResult::SKIPPED, "bb")}}, &summary);
    EXPECT_EQ(summaryText(summary),
              "report north.jsonl: 3 devices: 1 updated, 1 failed, 1 interrupted, 0 skipped\n"
              "  image aa main.enc: 1 device: 0 updated, 1 failed, 0 interrupted, 0 skipped\n"
              "  image bb main.enc: 2 devices: 1 updated, 0 failed, 1 interrupted, 0 skipped\n"
              "report south.jsonl: 1 device: 0 updated, 0 failed, 0 interrupted, 1 skipped\n"
              "  image bb main.enc: 1 device: 0 updated, 0 failed, 0 interrupted, 1 skipped\n"
              "total of 2 reports: 4 devices: 1 updated, 1 failed, 1 interrupted, 1 skipped\n"
              "  image aa main.enc: 1 device: 0 updated, 1 failed, 0 interrupted, 0 skipped\n"
              "  image bb main.enc: 3 devices: 1 updated, 0 failed, 1 interrupted, 1 skipped\n"
              "not updated: 2 devices\n"
              "  north.jsonl 10.0.0.9 failed: main.enc: no reply\n"
              "  north.jsonl 10.0.0.2 interrupted: main.enc: stopped by the operator\n");
}

TEST(FleetSummary, JsonHoldsTheSame)
{
    FleetSummary summary;
    addToSummary("a\"b.jsonl", {{"10.0.0.1", entry(1, FleetResult::FAILED, "", "no reply")}},
                 &summary);
    const std::string counts =
        "\"devices\":1,\"results\":{\"updated\":0,\"failed\":1,\"interrupted\":0,\"skipped\":0}";
    const std::string tally = counts + ",\"images\":[{\"sha256\":\"\",\"file\":\"main.enc\"," +
                              counts + "}]}";
    EXPECT_EQ(summaryJson(summary),
              "{\"reports\":[{\"report\":\"a\\\"b.jsonl\"," + tally + "],\"total\":{\"reports\":1," +
                  tally + ",\"not_updated\":[{\"report\":\"a\\\"b.jsonl\",\"address\":\"10.0.0.1\","
                  "\"file\":\"main.enc\",\"sha256\":\"\",\"result\":\"failed\",\"reason\":\"no "
                  "reply\"}]}\n");
}
