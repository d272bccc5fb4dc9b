#include "fleet_outputs.h"

#include <cstdio>

#include "platform/ledger_files.h"
#include "companion_cli.h"

namespace {
bool sameFile(const std::string& a, const std::string& b)
{
    return a == b || platformSameFile(a.c_str(), b.c_str());
}

// What an output path must not be; empty when it is safe.
std::string clash(const std::string& path, const FleetOptions& options,
                  const std::vector<FleetImage>& images, const std::string& otherOutput)
{
    if (platformIsDirectory(path.c_str()))
        return "is a folder";
    if (sameFile(path, options.listPath))
        return "is the device list";
    if (!options.passwordFile.empty() && sameFile(path, options.passwordFile))
        return "is the password file";
    for (const FleetImage& image : images)
        if (sameFile(path, image.file))
            return "is the file " + image.file;
    if (!otherOutput.empty() && sameFile(path, otherOutput))
        return "is also the other output";
    return "";
}

bool safe(const char* what, const std::string& path, const FleetOptions& options,
          const std::vector<FleetImage>& images, const std::string& otherOutput)
{
    if (path.empty())
        return true;
    std::string why = clash(path, options, images, otherOutput);
    if (!why.empty())
        companionError("VNfleet: the %s %s %s\n", what, path.c_str(), why.c_str());
    return why.empty();
}
}  // namespace

bool outputsAreSafe(const FleetOptions& options, const std::vector<FleetImage>& images)
{
    return safe("report", options.reportPath, options, images, options.debugLogPath) &&
           safe("debug log", options.debugLogPath, options, images, options.reportPath);
}
