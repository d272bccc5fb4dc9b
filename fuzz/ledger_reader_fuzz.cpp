// The ledger reader on arbitrary text, and the summary of what it read. A
// ledger it reads stays readable when a run appends a line end and its run
// line (what an appending run does after a crash's torn tail), and the
// summary's JSON is always valid.
#include <nlohmann/json.hpp>

#include "fleet_summary.h"
#include "fuzz_support.h"

namespace {
const char* const RUN_LINE = "{\"line\":\"run\",\"run\":\"fuzz\",\"site\":\"s\",\"addresses\":[]}";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    LedgerContents contents;
    if (!parseLedger(text, "fuzz.jsonl", &contents))
        return 0;
    for (const auto& site : contents.last)
        for (const auto& [address, entry] : site.second) {
            FUZZ_CHECK(entry.line >= 1 && static_cast<std::size_t>(entry.line) <= size);
            FUZZ_CHECK(!alreadyHolds(entry, ImageIdentity{"", entry.image.type,
                                                          entry.image.whole, entry.image.packaged}));
        }
    LedgerContents appended;
    FUZZ_CHECK(parseLedger(text + "\n" + RUN_LINE + "\n", "fuzz.jsonl", &appended));
    FUZZ_CHECK(appended.runs.size() == contents.runs.size() + 1);
    FleetSummary summary;
    addToSummary("fuzz.jsonl", contents, &summary);
    summaryText(summary);
    FUZZ_CHECK(!nlohmann::json::parse(summaryJson(summary), nullptr, false).is_discarded());
    return 0;
}
