#include "fleet_runs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

int fleetStartupMs()
{
    return programsUnderWine() ? 30000 : 5000;
}

std::string fleetFolder()
{
    std::string dir = makeTempDir();
    writeFile(dir + "/app.jar", randomBytes(5000, 23));
    runProgram("VNloader", {"-NE", "-T", "J", "-f", "app.jar", "-K", "fleet-key"},
               fleetStartupMs(), dir);
    return dir;
}

FleetAgainstSim runFleetAgainstSim(const std::string& dir, const std::string& range,
                                   const std::vector<std::string>& args)
{
    RunningProgram sim = startProgram("VNsim", {"--devices", range, "-P", "pw", "-K", "fleet-key",
                                                "-o", dir, "--idle-ms", "3000"},
                                      dir);
    EXPECT_TRUE(waitForOutput(sim, "listening on", fleetStartupMs())) << sim.output;
    RunningProgram fleet = startProgram("VNfleet", args, dir);
    FleetAgainstSim result;
    result.fleet = finishProgram(fleet, 60000);
    result.sim = stopProgram(sim);
    return result;
}

std::string readText(const std::string& path)
{
    std::vector<unsigned char> bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> linesWith(const std::string& text, const std::vector<std::string>& parts)
{
    std::vector<std::string> found;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        bool all = true;
        for (const std::string& part : parts)
            all = all && line.find(part) != std::string::npos;
        if (all)
            found.push_back(line);
    }
    return found;
}

std::string sha256sumOf(const std::string& path)
{
    std::FILE* pipe = popen(("sha256sum '" + path + "'").c_str(), "r");
    char digest[65] = {};
    if (!pipe || std::fread(digest, 1, 64, pipe) != 64)
        ADD_FAILURE() << "sha256sum " << path;
    if (pipe)
        pclose(pipe);
    return digest;
}
