// VNfleet's report as a ledger: appended, whole lines that name the image,
// kept through resumes, crashes and a full disk.
#include <gtest/gtest.h>

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
