#include "fleet_report.h"

#include "json_string.h"
#include "platform/ledger_files.h"

const char* const SKIPPED_AS_UPDATED = "updated in an earlier run";
const char* const INTERRUPTED_WAITING_FOR_PING = "interrupted while waiting for a ping reply";

std::string notBackReason(int awaitSeconds)
{
    return "no reply to ping within " + std::to_string(awaitSeconds) + " s";
}

std::string resultJson(const DeviceResult& r, const std::string& time)
{
    return "{\"address\":" + jsonString(r.address) +
           ",\"file\":" + jsonString(platformNameToUtf8(r.file)) +
           ",\"result\":" + jsonString(resultName(r.result)) +
           ",\"reason\":" + jsonString(platformNameToUtf8(r.reason)) +
           ",\"pages\":" + std::to_string(r.pages) + ",\"datagrams\":" +
           std::to_string(r.datagrams) + ",\"resends\":" + std::to_string(r.resends) +
           ",\"milliseconds\":" + std::to_string(r.milliseconds) +
           ",\"foreign\":" + std::to_string(r.foreign) + ",\"sha256\":" +
           jsonString(r.image.sha256) + ",\"type\":" + jsonString(std::string(1, r.image.type)) +
           ",\"whole\":" + (r.image.whole ? "true" : "false") +
           (r.awaited ? ",\"back_ms\":" + (r.back ? std::to_string(r.backMs) : "null") : "") +
           ",\"time\":" + jsonString(time) + "}";
}
