#include "fleet_summary.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "fleet_options.h"
#include "json_string.h"
#include "platform/text_names.h"

const char* const NO_RECORD = "no record";

namespace {
using Json = nlohmann::ordered_json;

ResultCounts noDevices()
{
    ResultCounts counts;
    for (FleetResult result : {FleetResult::UPDATED, FleetResult::FAILED,
                               FleetResult::INTERRUPTED, FleetResult::SKIPPED,
                               FleetResult::NOT_STARTED})
        counts.byResult.emplace_back(resultName(result), 0);
    return counts;
}

// A result beyond the usual ones ("not back") is counted only where it is met.
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

Json countsJson(const ResultCounts& counts)
{
    Json results = Json::object();
    for (const auto& entry : counts.byResult)
        results[entry.first] = entry.second;
    return Json{{"devices", counts.devices}, {"results", results}};
}

Json tallyJson(const LedgerTally& tally, const std::string& firstKey, const Json& firstValue)
{
    Json json{{firstKey, firstValue}};
    json.update(countsJson(tally.counts));
    Json images = Json::array();
    for (const ImageCounts& image : tally.images) {
        Json one{{"sha256", image.sha256}, {"file", image.file}};
        one.update(countsJson(image.counts));
        images.push_back(one);
    }
    json["images"] = images;
    return json;
}

// A site's latest run: its planned devices, each by its line in that run.
void judge(const std::string& report, const LedgerRun& run, FleetSummary* summary)
{
    summary->runs.push_back({report, run.site, run.id, run.ended, run.how, run.planned.size()});
    for (const std::string& address : run.planned) {
        auto line = run.devices.find(address);
        if (line == run.devices.end()) {
            summary->notUpdated.push_back({report, run.site, address, "", "", NO_RECORD,
                                           run.ended ? "the run ended without it"
                                                     : "the run did not end"});
            continue;
        }
        const LedgerEntry& entry = line->second;
        RunVerdict& verdict = summary->runs.back();
        const bool notBack = entry.result == FleetResult::NOT_BACK ||
                             (entry.awaited && !entry.back);
        verdict.pinged = verdict.pinged || entry.awaited;
        verdict.back += entry.back ? 1 : 0;
        verdict.notBack += notBack ? 1 : 0;
        NotUpdated device{report, run.site, address, entry.file, entry.image.sha256,
                          resultName(entry.result), entry.reason};
        if (notBack)
            summary->notBack.push_back(device);
        else if (entry.result != FleetResult::UPDATED && entry.result != FleetResult::SKIPPED)
            summary->notUpdated.push_back(device);
    }
}

std::string devicesText(const std::vector<NotUpdated>& devices)
{
    std::string text;
    for (const NotUpdated& device : devices)
        text += "  " + device.report + " " + device.address + " " + device.result + ": " +
                (device.file.empty() ? "" : device.file + ": ") + device.reason + "\n";
    return text;
}

Json devicesJson(const std::vector<NotUpdated>& devices)
{
    Json json = Json::array();
    for (const NotUpdated& device : devices)
        json.push_back(Json{{"report", device.report}, {"site", device.site},
                            {"address", device.address}, {"file", device.file},
                            {"sha256", device.sha256}, {"result", device.result},
                            {"reason", device.reason}});
    return json;
}
}  // namespace

void addToSummary(const std::string& report, const LedgerContents& contents,
                  FleetSummary* summary)
{
    if (summary->reports.empty())
        summary->total = {"total", noDevices(), {}};
    // In the ledger's order, not the addresses' text order; sites that reuse
    // an address count it once each.
    std::vector<const LedgerEntry*> devices;
    for (const auto& site : contents.last)
        for (const auto& address : site.second)
            devices.push_back(&address.second);
    std::sort(devices.begin(), devices.end(),
              [](const LedgerEntry* a, const LedgerEntry* b) { return a->line < b->line; });
    LedgerTally tally{report, noDevices(), {}};
    for (const LedgerEntry* entry : devices)
        add(&tally, entry->image.sha256, entry->file, resultName(entry->result));
    // Sites may reuse private addresses: the total adds reports, it does
    // not merge their devices.
    for (const ImageCounts& image : tally.images)
        for (const auto& entry : image.counts.byResult)
            if (entry.second > 0)
                add(&summary->total, image.sha256, image.file, entry.first, entry.second);
    summary->reports.push_back(tally);
    // Each site's latest run, in the order of those runs.
    std::vector<const LedgerRun*> latest;
    for (const LedgerRun& run : contents.runs) {
        auto same = std::find_if(latest.begin(), latest.end(),
                                 [&](const LedgerRun* other) { return other->site == run.site; });
        if (same != latest.end())
            latest.erase(same);
        latest.push_back(&run);
    }
    for (const LedgerRun* run : latest)
        judge(report, *run, summary);
    if (contents.runs.empty())
        summary->noRun.push_back(report);
}

bool allUpdated(const FleetSummary& summary)
{
    bool ended = std::all_of(summary.runs.begin(), summary.runs.end(),
                             [](const RunVerdict& run) { return run.ended; });
    bool back = std::none_of(summary.notBack.begin(), summary.notBack.end(),
                             [](const NotUpdated& device) { return device.result == "not back"; });
    return ended && back && summary.noRun.empty() && summary.notUpdated.empty();
}

std::string summaryText(const FleetSummary& summary)
{
    std::string text;
    for (const LedgerTally& tally : summary.reports)
        text += tallyText(tally, "report " + tally.report);
    text += tallyText(summary.total,
                      "total of " + counted(summary.reports.size(), "report"));
    text += "latest runs: " + counted(summary.runs.size(), "site") + "\n";
    for (const RunVerdict& run : summary.runs)
        text += "  " + run.report + " site " + run.site + ": run " + run.run + " " +
                (run.ended ? run.how : "unfinished (no end line)") + ": " +
                counted(run.planned, "device") + " planned\n" +
                (run.pinged ? "    " + powerAdvice(run.back, run.notBack) + "\n" : "");
    for (const std::string& report : summary.noRun)
        text += "  " + report + ": no run\n";
    text += "not updated: " + counted(summary.notUpdated.size(), "device") + "\n" +
            devicesText(summary.notUpdated);
    if (!summary.notBack.empty())
        text += "not back: " + counted(summary.notBack.size(), "device") + "\n" +
                devicesText(summary.notBack);
    return text;
}

std::string summaryJson(const FleetSummary& summary)
{
    Json reports = Json::array();
    for (const LedgerTally& tally : summary.reports)
        reports.push_back(tallyJson(tally, "report", tally.report));
    Json runs = Json::array();
    for (const RunVerdict& run : summary.runs) {
        Json one{{"report", run.report}, {"site", run.site}, {"run", run.run},
                 {"ended", run.ended ? Json(run.how) : Json(nullptr)}, {"devices", run.planned}};
        if (run.pinged) {
            one["back"] = run.back;
            one["not_back"] = run.notBack;
            one["power"] = powerAdvice(run.back, run.notBack);
        }
        runs.push_back(one);
    }
    Json json{{"reports", reports},
              {"total", tallyJson(summary.total, "reports", summary.reports.size())},
              {"runs", runs},
              {"no_run", summary.noRun},
              {"not_updated", devicesJson(summary.notUpdated)}};
    if (!summary.notBack.empty())
        json["not_back"] = devicesJson(summary.notBack);
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

int runSummary(const std::vector<std::string>& reports, bool json)
{
    FleetSummary summary;
    for (const std::string& report : reports) {
        LedgerContents contents;
        if (!readLedger(report, &contents, "report"))
            return FLEET_EXIT_BAD_INPUT;
        addToSummary(report, contents, &summary);
    }
    const std::string text = json ? summaryJson(summary) : summaryText(summary);
    platformWriteText(stdout, text.data(), text.size(), json);
    std::fflush(stdout);
    return allUpdated(summary) ? FLEET_EXIT_UPDATED : FLEET_EXIT_SOME_FAILED;
}
