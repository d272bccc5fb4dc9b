#include "fleet_options.h"

#include "companion_cli.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "companion_cli.h"
#include "image/image_kinds.h"
#include "platform/text_names.h"

namespace {
struct OptionRow {
    const char* name;
    const char* value;  // nullptr: a switch
    const char* meaning;
};

constexpr OptionRow optionRows[] = {
    {"-P", "<password>", "Set Password of the devices without a password column"},
    {"--password-file", "<file>",
     "-P read from the file's first line (Linux: refused if others may read it)"},
    {"-f", "<file>", "file for the devices without a file column"},
    {"-NE", nullptr, "the files are plain (not update packages); needs -T"},
    {"-T", "<letter>", "type of a plain file: M, D, L, J or H"},
    {"-EA", nullptr, "packages are enciphered whole"},
    {"-j", "<n>", "devices in flight at once (default 64)"},
    {"--min-wait-ms", "<ms>", "shortest wait for a reply (default 200)"},
    {"--tries", "<n>", "sends of one packet before a device fails (default 8)"},
    {"--await-ping", "<s>",
     "after each update, ping the device until it answers, at most <s> seconds"},
    {"--ping-interval-ms", "<ms>", "with --await-ping: time between pings (default 1000)"},
    {"--report", "<file>", "append the run's JSON lines, one per device; locked by the run"},
    {"--resume", "<file>", "skip devices whose last line of this site there is this image updated"},
    {"--debug-log", "<file>", "append the devices' Dbg> lines (UDP port 9029)"},
    {"--site", "<name>", "the site in the run line (default: the list's name, no extension)"},
    {"--canary", "<n>", "update the first n devices first, alone; the rest only if all are"},
    {"--max-failed", "<n or p%>", "start no further device once more than that failed"},
    {"--allow-unfit", nullptr, "send files VNinfo calls unfit (said on standard error)"},
    {"--deadline", "<s>", "after s seconds start no device and end those in flight (exit 3)"},
    {"--dry-run", nullptr, "check everything and print the plan; send nothing"},
    {"--summary", "<report>...", "sum up reports; judge each site's latest run; send nothing"},
    {"--json", nullptr, "with --summary: print one JSON object"},
    {"--version", nullptr, "print the version"},
    {"-h, --help", nullptr, "print this text"},
};

constexpr ExitStatusRow exitStatuses[] = {
    {FLEET_EXIT_UPDATED, "every device updated (or skipped by --resume); --summary: each "
                         "site's latest run ended with every device updated or skipped"},
    {FLEET_EXIT_USAGE, "usage"},
    {FLEET_EXIT_BAD_INPUT,
     "bad input: a bad list, file, password file or report; nothing sent"},
    {FLEET_EXIT_INTERRUPTED, "interrupted"},
    {FLEET_EXIT_SOME_FAILED, "some devices failed or, with --await-ping, are not back; "
                             "--summary: some devices not updated or not back, a run "
                             "unfinished or no run"},
    {FLEET_EXIT_REPORT_FAILED, "the report could not be written: no device started after that"},
};

bool parseCount(const char* text, long low, long high, int* value)
{
    long parsed = 0;
    if (!parseWholeNumber(text, low, high, &parsed))
        return false;
    *value = static_cast<int>(parsed);
    return true;
}

// N devices, or P% of the devices to send.
bool parseFailureLimit(const char* value, FleetOptions* options)
{
    std::string text = value;
    if (!text.empty() && text.back() == '%') {
        text.pop_back();
        return parseCount(text.c_str(), 0, 100, &options->maxFailedPercent);
    }
    int count = 0;
    if (!parseCount(value, 0, 1000000, &count))
        return false;
    options->maxFailed = count;
    return true;
}

bool takesValue(const char* name)
{
    for (const OptionRow& row : optionRows)
        if (std::strcmp(row.name, name) == 0)
            return row.value != nullptr;
    return false;
}

bool known(const char* name)
{
    for (const OptionRow& row : optionRows)
        if (std::strcmp(row.name, name) == 0)
            return true;
    return false;
}

// An empty name would read as "not given": no report kept, the password unset.
bool namesAFile(const char* name)
{
    for (const char* option : {"--password-file", "-f", "--report", "--resume", "--debug-log"})
        if (std::strcmp(name, option) == 0)
            return true;
    return false;
}

bool takeValue(const char* name, const char* value, FleetOptions* options)
{
    if (value[0] == '\0' && namesAFile(name))
        return false;
    if (std::strcmp(name, "-P") == 0) {
        options->password = value;
        options->passwordGiven = true;
    }
    else if (std::strcmp(name, "--password-file") == 0)
        options->passwordFile = value;
    else if (std::strcmp(name, "-f") == 0)
        options->file = value;
    else if (std::strcmp(name, "-T") == 0) {
        options->typeLetter = value[0];
        return value[0] != '\0' && value[1] == '\0';
    }
    else if (std::strcmp(name, "-j") == 0)
        return parseCount(value, 1, 4096, &options->inFlight);
    else if (std::strcmp(name, "--min-wait-ms") == 0)
        return parseCount(value, 1, FLEET_REPLY_WAIT_LIMIT_MS, &options->minWaitMs);
    else if (std::strcmp(name, "--tries") == 0)
        return parseCount(value, 1, 1000, &options->tries);
    else if (std::strcmp(name, "--deadline") == 0)
        return parseCount(value, 1, 1000000000, &options->deadlineS);
    else if (std::strcmp(name, "--await-ping") == 0)
        return parseCount(value, 1, 86400, &options->awaitPingS);
    else if (std::strcmp(name, "--ping-interval-ms") == 0) {
        options->pingIntervalGiven = true;
        return parseCount(value, 100, 60000, &options->pingIntervalMs);
    }
    else if (std::strcmp(name, "--report") == 0)
        options->reportPath = value;
    else if (std::strcmp(name, "--resume") == 0)
        options->resumePath = value;
    else if (std::strcmp(name, "--debug-log") == 0)
        options->debugLogPath = value;
    else if (std::strcmp(name, "--site") == 0) {
        options->site = value;
        return value[0] != '\0';
    }
    else if (std::strcmp(name, "--canary") == 0)
        return parseCount(value, 1, 1000000, &options->canary);
    else if (std::strcmp(name, "--max-failed") == 0)
        return parseFailureLimit(value, options);
    return true;
}

// north from sites/north.csv (either slash on Windows).
std::string siteOfList(const std::string& list)
{
    std::size_t folder = list.find_last_of("/\\");
    std::string name = folder == std::string::npos ? list : list.substr(folder + 1);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

FleetArgs usageError(const std::string& why)
{
    companionError("VNfleet: %s\n%s", why.c_str(), fleetUsageText().c_str());
    return FLEET_ARGS_BAD;
}

// --summary takes reports and --json, nothing a run takes.
FleetArgs checkSummaryArgs(const FleetOptions& options, bool runOptions)
{
    if (!options.summary)
        return options.json ? usageError("--json goes with --summary") : FLEET_ARGS_RUN;
    if (runOptions || !options.listPath.empty())
        return usageError("--summary takes only --json and reports");
    if (options.reports.empty())
        return usageError("--summary needs a report");
    return FLEET_ARGS_RUN;
}
}  // namespace

std::string fleetUsageText()
{
    std::string text = "usage: VNfleet [options] devices.csv\n"
                       "       VNfleet --summary [--json] report...\n"
                       "Updates every device of a CSV list (columns address, password, file,\n"
                       "type, whole; comma or semicolon) with VNloader's code-update protocol;\n"
                       "or reads reports and sums them up. A relative file cell is taken from\n"
                       "the list's folder, -f from the current folder.\n";
    char line[160];
    for (const OptionRow& row : optionRows) {
        std::snprintf(line, sizeof line, "  %-24s %s\n",
                      (std::string(row.name) + (row.value ? std::string(" ") + row.value : ""))
                          .c_str(),
                      row.meaning);
        text += line;
    }
    return text + exitStatusText(exitStatuses);
}

FleetArgs parseFleetOptions(int argc, const char* const* argv, FleetOptions* options)
{
    bool runOptions = false;
    for (int i = 1; i < argc; ++i) {
        const char* name = argv[i];
        if (std::strcmp(name, "-h") == 0 || std::strcmp(name, "--help") == 0)
            return FLEET_ARGS_HELP;
        if (std::strcmp(name, "--version") == 0)
            return FLEET_ARGS_VERSION;
        if (std::strcmp(name, "--summary") == 0 || std::strcmp(name, "--json") == 0) {
            (name[2] == 's' ? options->summary : options->json) = true;
            continue;
        }
        if (options->summary && (name[0] != '-' || name[1] == '\0')) {
            for (const std::string& report : platformExpandWildcards(name))
                options->reports.push_back(report);
            continue;
        }
        runOptions = runOptions || name[0] == '-';
        if (name[0] != '-' || name[1] == '\0') {
            if (i != argc - 1)
                return usageError(std::string("the device list must come last: ") + name);
            options->listPath = name;
            break;
        }
        if (std::strcmp(name, "-NE") == 0) {
            options->plain = true;
            continue;
        }
        if (std::strcmp(name, "-EA") == 0) {
            options->wholeEnciphered = true;
            continue;
        }
        if (std::strcmp(name, "--dry-run") == 0) {
            options->dryRun = true;
            continue;
        }
        if (std::strcmp(name, "--allow-unfit") == 0) {
            options->allowUnfit = true;
            continue;
        }
        if (!known(name) || !takesValue(name))
            return usageError(std::string("unknown option: ") + name);
        if (i + 1 >= argc)
            return usageError(std::string(name) + " needs a value");
        const char* value = argv[++i];
        if (!takeValue(name, value, options))
            return usageError(std::string("bad value for ") + name + ": " + value);
    }
    if (options->summary || options->json)
        return checkSummaryArgs(*options, runOptions);
    if (options->listPath.empty())
        return usageError("no device list given");
    if (options->site.empty())
        options->site = siteOfList(options->listPath);
    if (options->passwordGiven && !options->passwordFile.empty())
        return usageError("-P and --password-file: give one");
    if (options->pingIntervalGiven && options->awaitPingS == 0)
        return usageError("--ping-interval-ms goes with --await-ping");
    if (options->plain != (options->typeLetter != 0))
        return usageError("-NE and -T go together");
    if (options->plain && !imageKindOfLetter(options->typeLetter))
        return usageError(std::string("You have chosen an unavailable file type:") +
                   options->typeLetter);
    return FLEET_ARGS_RUN;
}
