#include "fleet_summary.h"

#include <cstdio>

#include "fleet_options.h"
#include "fleet_report.h"

namespace {
ResultCounts noDevices()
{
    ResultCounts counts;
    for (const char* result : {"updated", "failed", "interrupted", "skipped"})
        counts.byResult.emplace_back(result, 0);
    return counts;
}

void count(ResultCounts* counts, const std::string& result, unsigned devices = 1)
{
    counts->devices += devices;
    for (auto& entry : counts->byResult)
        if (entry.first == result) {
            entry.second += devices;
            return;
        }
    counts->byResult.emplace_back(result, devices);
}

ImageCounts& imageOf(LedgerTally* tally, const std::string& sha256, const std::string& file)
{
    for (ImageCounts& image : tally->images)
        if (image.sha256 == sha256 && image.file == file)
            return image;
    tally->images.push_back({sha256, file, noDevices()});
    return tally->images.back();
}

void add(LedgerTally* tally, const std::string& sha256, const std::string& file,
         const std::string& result, unsigned devices = 1)
{
    count(&tally->counts, result, devices);
    count(&imageOf(tally, sha256, file).counts, result, devices);
}

std::string devicesText(std::size_t devices)
{
    return std::to_string(devices) + (devices == 1 ? " device" : " devices");
}

std::string countsText(const ResultCounts& counts)
{
    std::string text = devicesText(counts.devices) + ":";
    const char* separator = " ";
    for (const auto& entry : counts.byResult) {
        text += separator + std::to_string(entry.second) + " " + entry.first;
        separator = ", ";
    }
    return text;
}

std::string tallyText(const LedgerTally& tally, const std::string& heading)
{
    std::string text = heading + ": " + countsText(tally.counts) + "\n";
    for (const ImageCounts& image : tally.images)
        text += "  image " + (image.sha256.empty() ? "(no sha256)" : image.sha256) + " " +
                image.file + ": " + countsText(image.counts) + "\n";
    return text;
}

std::string countsJson(const ResultCounts& counts)
{
    std::string json = "\"devices\":" + std::to_string(counts.devices) + ",\"results\":{";
    const char* separator = "";
    for (const auto& entry : counts.byResult) {
        json += separator + jsonString(entry.first) + ":" + std::to_string(entry.second);
        separator = ",";
    }
    return json + "}";
}

std::string tallyJson(const LedgerTally& tally, const std::string& firstMember)
{
    std::string json = "{" + firstMember + "," + countsJson(tally.counts) + ",\"images\":[";
    const char* separator = "";
    for (const ImageCounts& image : tally.images) {
        json += separator;
        json += "{\"sha256\":" + jsonString(image.sha256) + ",\"file\":" + jsonString(image.file) +
                "," + countsJson(image.counts) + "}";
        separator = ",";
    }
    return json + "]}";
}
}  // namespace

void addToSummary(const std::string& report, const std::vector<LedgerLine>& lastPerAddress,
                  FleetSummary* summary)
{
    if (summary->reports.empty())
        summary->total = {"total", noDevices(), {}};
    LedgerTally tally{report, noDevices(), {}};
    for (const LedgerLine& line : lastPerAddress) {
        const std::string result = ledgerField(line, "result");
        add(&tally, ledgerField(line, "sha256"), ledgerField(line, "file"), result);
        if (result != "updated" && result != "skipped")
            summary->notUpdated.emplace_back(report, line);
    }
    // Sites may reuse private addresses: the total adds reports, it does
    // not merge their devices.
    for (const ImageCounts& image : tally.images)
        for (const auto& entry : image.counts.byResult)
            if (entry.second > 0)
                add(&summary->total, image.sha256, image.file, entry.first, entry.second);
    summary->reports.push_back(tally);
}

std::string summaryText(const FleetSummary& summary)
{
    std::string text;
    for (const LedgerTally& tally : summary.reports)
        text += tallyText(tally, "report " + tally.report);
    text += tallyText(summary.total,
                      "total of " + std::to_string(summary.reports.size()) + " reports");
    text += "not updated: " + devicesText(summary.notUpdated.size()) + "\n";
    for (const auto& [report, line] : summary.notUpdated) {
        const std::string reason = ledgerField(line, "reason");
        text += "  " + report + " " + ledgerField(line, "address") + " " +
                ledgerField(line, "result") + ": " + ledgerField(line, "file") +
                (reason.empty() ? "" : ": " + reason) + "\n";
    }
    return text;
}

std::string summaryJson(const FleetSummary& summary)
{
    std::string json = "{\"reports\":[";
    const char* separator = "";
    for (const LedgerTally& tally : summary.reports) {
        json += separator + tallyJson(tally, "\"report\":" + jsonString(tally.report));
        separator = ",";
    }
    json += "],\"total\":" +
            tallyJson(summary.total, "\"reports\":" + std::to_string(summary.reports.size())) +
            ",\"not_updated\":[";
    separator = "";
    for (const auto& [report, line] : summary.notUpdated) {
        json += separator;
        json += "{\"report\":" + jsonString(report);
        for (const char* key : {"address", "file", "sha256", "result", "reason"})
            json += std::string(",\"") + key + "\":" + jsonString(ledgerField(line, key));
        json += "}";
        separator = ",";
    }
    return json + "]}\n";
}

int runSummary(const std::vector<std::string>& reports, bool json)
{
    FleetSummary summary;
    for (const std::string& report : reports) {
        std::vector<LedgerLine> lastPerAddress;
        if (!readLedger(report, &lastPerAddress))
            return FLEET_EXIT_BAD_INPUT;
        addToSummary(report, lastPerAddress, &summary);
    }
    std::fputs((json ? summaryJson(summary) : summaryText(summary)).c_str(), stdout);
    std::fflush(stdout);
    return summary.notUpdated.empty() ? FLEET_EXIT_UPDATED : FLEET_EXIT_SOME_FAILED;
}
