#include "fleet_summary.h"

#include <algorithm>
#include <cstdio>

#include "fleet_options.h"
#include "json_string.h"
#include "platform/text_names.h"

namespace {
ResultCounts noDevices()
{
    ResultCounts counts;
    for (FleetResult result : {FleetResult::UPDATED, FleetResult::FAILED,
                               FleetResult::INTERRUPTED, FleetResult::SKIPPED})
        counts.byResult.emplace_back(resultName(result), 0);
    return counts;
}

void count(ResultCounts* counts, const std::string& result, unsigned devices = 1)
{
    counts->devices += devices;
    for (auto& entry : counts->byResult)
        if (entry.first == result)
            entry.second += devices;
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

std::string counted(std::size_t n, const std::string& noun)
{
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string countsText(const ResultCounts& counts)
{
    std::string text = counted(counts.devices, "device") + ":";
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

void addToSummary(const std::string& report, const std::map<std::string, LedgerEntry>& last,
                  FleetSummary* summary)
{
    if (summary->reports.empty())
        summary->total = {"total", noDevices(), {}};
    // In the ledger's order, not the addresses' text order.
    std::vector<std::pair<std::string, LedgerEntry>> devices(last.begin(), last.end());
    std::sort(devices.begin(), devices.end(),
              [](const auto& a, const auto& b) { return a.second.line < b.second.line; });
    LedgerTally tally{report, noDevices(), {}};
    for (const auto& [address, entry] : devices) {
        add(&tally, entry.image.sha256, entry.file, resultName(entry.result));
        if (entry.result != FleetResult::UPDATED && entry.result != FleetResult::SKIPPED)
            summary->notUpdated.push_back({report, address, entry});
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
                      "total of " + counted(summary.reports.size(), "report"));
    text += "not updated: " + counted(summary.notUpdated.size(), "device") + "\n";
    for (const NotUpdated& device : summary.notUpdated)
        text += "  " + device.report + " " + device.address + " " +
                resultName(device.entry.result) + ": " + device.entry.file +
                (device.entry.reason.empty() ? "" : ": " + device.entry.reason) + "\n";
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
    for (const NotUpdated& device : summary.notUpdated) {
        json += separator;
        json += "{\"report\":" + jsonString(device.report) +
                ",\"address\":" + jsonString(device.address) +
                ",\"file\":" + jsonString(device.entry.file) +
                ",\"sha256\":" + jsonString(device.entry.image.sha256) +
                ",\"result\":" + jsonString(resultName(device.entry.result)) +
                ",\"reason\":" + jsonString(device.entry.reason) + "}";
        separator = ",";
    }
    return json + "]}\n";
}

int runSummary(const std::vector<std::string>& reports, bool json)
{
    FleetSummary summary;
    for (const std::string& report : reports) {
        std::map<std::string, LedgerEntry> last;
        if (!readLedger(report, &last, "report"))
            return FLEET_EXIT_BAD_INPUT;
        addToSummary(report, last, &summary);
    }
    const std::string text = json ? summaryJson(summary) : summaryText(summary);
    platformWriteText(stdout, text.data(), text.size(), json);
    std::fflush(stdout);
    return summary.notUpdated.empty() ? FLEET_EXIT_UPDATED : FLEET_EXIT_SOME_FAILED;
}
