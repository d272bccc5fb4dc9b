#include "fleet_report.h"

#include <nlohmann/json.hpp>

#include "platform/ledger_files.h"

const char* const SKIPPED_AS_UPDATED = "updated in an earlier run";
const char* const INTERRUPTED_WAITING_FOR_PING = "interrupted while waiting for a ping reply";

std::string notBackReason(int awaitSeconds)
{
    return "no reply to ping within " + std::to_string(awaitSeconds) + " s";
}

std::string powerAdvice(unsigned back, unsigned notBack)
{
    return std::to_string(back) + " devices back: safe to remove power; " +
           std::to_string(notBack) + " devices not back: do not remove their power";
}
const char* const RUN_COMPLETED = "completed";
const char* const RUN_INTERRUPTED = "interrupted";
const char* const RUN_STOPPED_BY_CANARY = "stopped by canary";
const char* const RUN_STOPPED_BY_MAX_FAILED = "stopped by max-failed";
const char* const RUN_WRITE_ERROR = "write error";
const char* const RUN_WAIT_FAILED = "waiting for replies failed";

namespace {
using Json = nlohmann::ordered_json;

// A byte that is not UTF-8 becomes U+FFFD: a line is always valid JSON.
std::string text(const Json& json)
{
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void addIdentity(Json* json, const ImageIdentity& image)
{
    (*json)["sha256"] = image.sha256;
    (*json)["type"] = std::string(1, image.type);
    (*json)["whole"] = image.whole;
    (*json)["packaged"] = image.packaged;
}
}  // namespace

bool sameIdentity(const ImageIdentity& a, const ImageIdentity& b)
{
    return a.sha256 == b.sha256 && a.type == b.type && a.whole == b.whole &&
           a.packaged == b.packaged;
}

std::string resultJson(const std::string& run, const DeviceResult& r, const std::string& time)
{
    Json json;
    json["run"] = run;
    json["address"] = r.address;
    json["file"] = r.file;
    json["result"] = resultName(r.result);
    json["reason"] = r.reason;
    json["pages"] = r.pages;
    json["datagrams"] = r.datagrams;
    json["resends"] = r.resends;
    json["milliseconds"] = r.milliseconds;
    json["foreign"] = r.foreign;
    addIdentity(&json, r.image);
    if (r.awaited)
        json["back_ms"] = r.back ? Json(r.backMs) : Json(nullptr);
    json["time"] = time;
    return text(json);
}

std::string runJson(const RunPlan& plan)
{
    Json json;
    json["line"] = "run";
    json["run"] = plan.id;
    json["site"] = plan.site;
    json["list"] = plan.list;
    json["list_sha256"] = plan.listSha256;
    json["devices"] = plan.addresses.size();
    json["addresses"] = plan.addresses;
    Json images = Json::array();
    for (const RunImage& image : plan.images) {
        Json one;
        one["file"] = image.file;
        addIdentity(&one, image.image);
        images.push_back(one);
    }
    json["images"] = images;
    json["host"] = plan.host;
    json["version"] = plan.version;
    json["start"] = plan.start;
    return text(json);
}

std::string endJson(const std::string& run, const RunEnd& end, const std::string& time)
{
    Json json;
    json["line"] = "end";
    json["run"] = run;
    json["ended"] = end.how;
    json["updated"] = end.updated;
    json["failed"] = end.failed;
    json["interrupted"] = end.interrupted;
    json["skipped"] = end.skipped;
    json["not_started"] = end.notStarted;
    if (end.pinging)
        json["not_back"] = end.notBack;
    json["time"] = time;
    return text(json);
}
