#include "fleet_outputs.h"

#include <cerrno>
#include <cstring>

#include "platform/output_files.h"
#include "platform/platform.h"
#include "companion_cli.h"

namespace {
struct Input {
    std::string what;  // as the refusal names it
    PlatformFileId id;
};

std::vector<Input> inputsOf(const FleetOptions& options, const std::vector<FleetImage>& images,
                            std::FILE* resume)
{
    std::vector<Input> inputs;
    auto add = [&](const std::string& path, const std::string& what) {
        PlatformFileId id{};
        if (!path.empty() && platformIdOfPath(path.c_str(), &id))
            inputs.push_back({what, id});
    };
    add(options.listPath, "the device list");
    add(options.passwordFile, "the password file");
    for (const FleetImage& image : images)
        add(image.file, "the file " + image.file);
    PlatformFileId id{};
    if (resume && platformIdOfFile(resume, &id))
        inputs.push_back({"the report to resume from", id});
    return inputs;
}

// Opens one output; false after saying why.
bool openOutput(const char* what, const std::string& path, FleetOutputs* outputs, std::FILE** file)
{
    if (path.empty())
        return true;
    PlatformPathKind kind = platformKindOfPath(path.c_str());
    if (kind == PlatformPathKind::FOLDER) {
        companionError("VNfleet: the %s %s is a folder\n", what, path.c_str());
        return false;
    }
    bool made = false;
    errno = 0;
    if (kind != PlatformPathKind::OTHER)
        *file = platformOpenAppending(path.c_str(), true, &made);
    if (made)
        outputs->made.push_back(path);
    if (kind == PlatformPathKind::OTHER || (*file && !platformIsRegular(*file))) {
        companionError("VNfleet: the %s %s is not a regular file (to keep no %s, give no --%s)\n",
                       what, path.c_str(), what, std::strcmp(what, "report") == 0 ? "report" : "debug-log");
        return false;
    }
    if (!*file) {
        companionError("VNfleet: cannot write the %s %s: %s\n", what, path.c_str(),
                       std::strerror(errno ? errno : EIO));
        return false;
    }
    return true;
}

bool lock(std::FILE* file, const std::string& path)
{
    bool busy = false;
    if (platformLockFile(file, &busy))
        return true;
    if (busy)
        companionError("VNfleet: the report %s is in use by another run\n", path.c_str());
    else
        companionError("VNfleet: cannot lock the report %s: %s\n", path.c_str(),
                       std::strerror(errno ? errno : EIO));
    return false;
}

// The resume file, when there is one yet; false after saying why.
bool openResume(const FleetOptions& options, bool existed, FleetOutputs* outputs)
{
    const std::string& path = options.resumePath;
    if (path.empty())
        return true;
    if (!existed) {
        companionError("VNfleet: the report to resume from %s does not exist yet: "
                               "nothing to skip\n", path.c_str());
        return true;
    }
    outputs->resume = platformOpenRegularFile(path.c_str());
    if (!outputs->resume) {
        companionError("VNfleet: cannot read the report to resume from: %s\n", path.c_str());
        return false;
    }
    PlatformFileId resumed{};
    PlatformFileId report{};
    outputs->reportIsResumed = outputs->report && platformIdOfFile(outputs->resume, &resumed) &&
                               platformIdOfFile(outputs->report, &report) && resumed == report;
    // The report's lock covers it when they are one file.
    return outputs->reportIsResumed || lock(outputs->resume, path);
}

bool distinct(const char* what, const std::string& path, std::FILE* file,
              const std::vector<Input>& inputs, std::FILE* other)
{
    PlatformFileId id{};
    PlatformFileId otherId{};
    if (!file || !platformIdOfFile(file, &id))
        return true;
    std::string clash;
    for (const Input& input : inputs)
        if (input.id == id && clash.empty())
            clash = input.what;
    if (clash.empty() && other && platformIdOfFile(other, &otherId) && otherId == id)
        clash = "also the other output";
    if (!clash.empty())
        companionError("VNfleet: the %s %s is %s\n", what, path.c_str(), clash.c_str());
    return clash.empty();
}
}  // namespace

bool openOutputs(const FleetOptions& options, const std::vector<FleetImage>& images,
                 FleetOutputs* outputs)
{
    // Whether the resume file was there before an output could make it.
    const bool resumeExisted = !options.resumePath.empty() &&
                               platformKindOfPath(options.resumePath.c_str()) !=
                                   PlatformPathKind::MISSING;
    bool open = openOutput("report", options.reportPath, outputs, &outputs->report) &&
                (!outputs->report || lock(outputs->report, options.reportPath)) &&
                openOutput("debug log", options.debugLogPath, outputs, &outputs->debugLog) &&
                openResume(options, resumeExisted, outputs);
    if (open) {
        std::vector<Input> inputs = inputsOf(options, images, outputs->resume);
        // The report may be the resume file; the debug log may not.
        std::vector<Input> reportInputs(inputs.begin(), inputs.end() - (outputs->resume ? 1 : 0));
        open = distinct("report", options.reportPath, outputs->report, reportInputs,
                        outputs->debugLog) &&
               distinct("debug log", options.debugLogPath, outputs->debugLog, inputs,
                        outputs->report);
    }
    if (!open)
        dropOutputs(outputs);
    return open;
}

void dropOutputs(FleetOutputs* outputs)
{
    for (std::FILE** file : {&outputs->report, &outputs->debugLog, &outputs->resume})
        if (*file) {
            std::fclose(*file);
            *file = nullptr;
        }
    for (const std::string& path : outputs->made)
        platformRemoveFile(path.c_str());
    outputs->made.clear();
}
