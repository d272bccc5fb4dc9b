// VNfleet's guards for a rollout: who may answer for a device, the finish
// packet, limits and signals, lists as spreadsheets write them, canaries.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "fleet_runs.h"

namespace {
int udpSocket(const char* address, unsigned short port)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, address, &at.sin_addr);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
        ADD_FAILURE() << "cannot bind " << address;
    return fd;
}
}  // namespace

TEST(VNfleetGuards, AnotherHostsAckIsDroppedAndCounted)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.3.8\n");
    int device = udpSocket("127.0.3.8", 69);
    int stranger = udpSocket("127.0.3.9", 0);
    RunningProgram fleet = startProgram("VNfleet", {"--tries", "2", "--min-wait-ms", "100", "-f",
                                                    "java.enc", "--report", "r.jsonl", "list.csv"},
                                        dir);
    // The device stays silent; a stranger acknowledges every packet it sends.
    pollfd wait{device, POLLIN, 0};
    for (int waitMs = fleetStartupMs(); poll(&wait, 1, waitMs) > 0; waitMs = 1500) {
        std::uint8_t packet[2048];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t got = recvfrom(device, packet, sizeof packet, 0,
                               reinterpret_cast<sockaddr*>(&from), &length);
        std::uint8_t ack[23] = {1, 0, 0, packet[3], packet[4]};
        if (got > 4)
            sendto(stranger, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&from), length);
    }
    ProgramResult r = finishProgram(fleet, fleetStartupMs());
    close(device);
    close(stranger);
    EXPECT_EQ(r.status, 4) << r.output;
    std::string report = readText(dir + "/r.jsonl");
    EXPECT_EQ(linesWith(report, {"\"result\":\"failed\",\"reason\":\"no reply\"", "\"foreign\":2,"})
                  .size(),
              1u)
        << report;
}

TEST(VNfleetGuards, TheFinishPacketWaitsVNloadersWholeWaitBeforeItGoesAgain)
{
    std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.3.10\n");
    int device = udpSocket("127.0.3.10", 69);
    RunningProgram fleet = startProgram("VNfleet", {"--min-wait-ms", "100", "-f", "java.enc",
                                                    "list.csv"},
                                        dir);
    // Every code-update packet is acknowledged, the finish packet never.
    int finishes = 0;
    pollfd wait{device, POLLIN, 0};
    for (int waitMs = fleetStartupMs(); poll(&wait, 1, waitMs) > 0; waitMs = 2000) {
        std::uint8_t packet[2048];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t got = recvfrom(device, packet, sizeof packet, 0,
                               reinterpret_cast<sockaddr*>(&from), &length);
        std::uint8_t ack[23] = {1, 0, 0, packet[3], packet[4]};
        if (got > 4 && packet[0] == 6)
            ++finishes;
        else if (got > 4)
            sendto(device, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&from), length);
    }
    stopProgram(fleet);
    close(device);
    EXPECT_EQ(finishes, 1);
}
