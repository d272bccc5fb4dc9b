#include "fleet_runs.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <sstream>

std::string fleetFolder()
{
    std::string dir = makeTempDir();
    writeFile(dir + "/app.jar", randomBytes(5000, 23));
    runProgram("VNloader", {"-NE", "-T", "J", "-f", "app.jar", "-K", "fleet-key"}, startupMs(), dir);
    return dir;
}

std::vector<std::string> sendingJava(std::vector<std::string> options)
{
    options.insert(options.end(), {"-f", "java.enc", "list.csv"});
    return options;
}

RunningProgram startFleet(const std::string& dir, const std::string& addresses,
                          const std::vector<std::string>& options)
{
    writeTextFile(dir + "/list.csv", "address\n" + addresses);
    return startProgram("VNfleet", sendingJava(options), dir);
}

RunningProgram startDevices(const std::vector<std::string>& args, const std::string& dir)
{
    if (!programsUnderWine())
        return startProgram("VNsim", args, dir);
    std::string windowsBin = programPath("VNsim");
    windowsBin.erase(windowsBin.rfind('/'));
    char self[4096] = {};
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string nativeBin(self, length > 0 ? static_cast<std::size_t>(length) : 0);
    setProgramLocation(nativeBin.substr(0, nativeBin.rfind('/')), false);
    RunningProgram sim = startProgram("VNsim", args, dir);
    setProgramLocation(windowsBin, true);
    return sim;
}

FleetAgainstSim runFleetAgainstSim(const std::string& dir, const std::string& range,
                                   const std::vector<std::string>& args,
                                   const std::vector<std::string>& simOptions)
{
    std::vector<std::string> simArgs = {"--devices", range, "-P", "pw", "-K", "fleet-key", "-o", dir,
                                        "--idle-ms", "3000"};
    simArgs.insert(simArgs.end(), simOptions.begin(), simOptions.end());
    RunningProgram sim = startDevices(simArgs, dir);
    EXPECT_TRUE(waitForOutput(sim, "listening on", startupMs())) << sim.output;
    RunningProgram fleet = startProgram("VNfleet", args, dir);
    FleetAgainstSim result;
    result.fleet = finishProgram(fleet, 60000);
    result.sim = stopProgram(sim);
    return result;
}

int actAsDevice(const char* address, const char* answerFrom, bool answerFinish, int quietMs)
{
    int device = udpSocket(address, 69);
    int sender = answerFrom ? udpSocket(answerFrom, 0) : device;
    int finishes = 0;
    pollfd wait{device, POLLIN, 0};
    for (int waitMs = startupMs(); poll(&wait, 1, waitMs) > 0; waitMs = quietMs) {
        std::uint8_t packet[2048] = {};
        sockaddr_in from{};
        socklen_t length = sizeof from;
        bool finish = recvfrom(device, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from),
                               &length) > 4 && packet[0] == 6;
        finishes += finish ? 1 : 0;
        std::uint8_t ack[23] = {1, 0, 0, packet[3], packet[4]};
        if (!finish || answerFinish)
            sendto(sender, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&from), length);
    }
    close(device);
    if (sender != device)
        close(sender);
    return finishes;
}

std::string deviceList(const std::string& header, int count, int firstB,
                       const std::function<std::string(int)>& cells)
{
    std::string list = header + "\n";
    for (int i = 0; i < count; ++i)
        list += "127.0." + std::to_string(firstB + i / 250) + "." + std::to_string(1 + i % 250) +
                (cells ? cells(i) : "") + "\n";
    return list;
}

std::string ledgerLine(const std::string& address, const std::string& sha256)
{
    return "{\"run\":\"r0\",\"address\":\"" + address + "\",\"file\":\"java.enc\",\"result\":"
           "\"updated\",\"reason\":\"\",\"pages\":20,\"datagrams\":6,\"resends\":0,"
           "\"milliseconds\":1,\"foreign\":0,\"sha256\":\"" + sha256 + "\",\"type\":\"J\","
           "\"whole\":false,\"packaged\":true,\"time\":\"2026-12-01T00:00:00Z\"}\n";
}

std::string ledgerRunLine(const std::string& site, const std::string& addresses)
{
    return "{\"line\":\"run\",\"run\":\"r0\",\"site\":\"" + site + "\",\"addresses\":[" +
           addresses + "]}\n";
}

std::string readText(const std::string& path)
{
    std::vector<unsigned char> bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

bool holds(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
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
