// VNsim as a fleet: several VNloader processes, each sending to its own
// emulated device through random losses and duplicates.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fleet_runs.h"

namespace {
using Bytes = std::vector<unsigned char>;

// A Java image as the device keeps it: length prefix, content, padding.
Bytes javaImage(const Bytes& content)
{
    Bytes image((content.size() + 2 + 255) / 256 * 256, 0);
    image[0] = static_cast<unsigned char>(content.size() & 0xFF);
    image[1] = static_cast<unsigned char>(content.size() >> 8);
    std::copy(content.begin(), content.end(), image.begin() + 2);
    return image;
}
}  // namespace

TEST(VNsimFleet, EachDeviceTakesItsOwnTransferThroughLossAndDuplicates)
{
    const int startMs = programsUnderWine() ? 30000 : 5000;
    const std::string dir = makeTempDir();
    // Wine binds a UDP socket bound to an interface's address to the whole
    // interface, so only one device of a fleet can hold port 69 on loopback.
    const int loaders = programsUnderWine() ? 1 : 3;
    const std::string last = "127.0.1." + std::to_string(loaders);
    const std::string devices = std::to_string(loaders) + (loaders == 1 ? " device" : " devices");
    // With this seed some datagrams are lost and some replies come twice, but
    // no finish packet or finish reply is lost (VNloader sends it once), and
    // each loss is followed by a duplicate that makes the loader send again
    // at once instead of after its 10-second wait.
    RunningProgram sim =
        startProgram("VNsim", {"--devices", "127.0.1.1-" + last, "--loss", "0.04", "--dup",
                               "0.15", "--seed", "5", "--ack-delay-ms", "1", "--idle-ms", "30000",
                               "-P", "pw", "-o", dir});
    ASSERT_TRUE(waitForOutput(sim, "VNsim: listening on 127.0.1.1-" + last + ":69, " + devices + "\n", startMs))
        << sim.output;

    std::vector<Bytes> contents;
    std::vector<RunningProgram> running;
    for (int i = 0; i < loaders; ++i) {
        contents.push_back(randomBytes(9000 + 1000 * static_cast<std::size_t>(i), 40 + i));
        std::string name = "app" + std::to_string(i) + ".jar";
        writeFile(dir + "/" + name, contents.back());
        running.push_back(startProgram("VNloader", {"-IP", "127.0.1." + std::to_string(i + 1), "-P",
                                                    "pw", "-NE", "-T", "J", "-f", name},
                                       dir));
    }
    for (int i = 0; i < loaders; ++i) {
        ProgramResult loader = finishProgram(running[static_cast<std::size_t>(i)], 60000);
        EXPECT_EQ(loader.status, 1) << loader.output;
    }
    ProgramResult r = finishProgram(sim, startMs + 3000);
    EXPECT_EQ(r.status, 0) << r.output;
    if (loaders == 3) {
        EXPECT_NE(r.output.find("lost on the way in (random)\n"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(" lost (random)"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(", sent twice (random)"), std::string::npos) << r.output;
    }
    for (int i = 0; i < loaders; ++i) {
        std::string address = "127.0.1." + std::to_string(i + 1);
        EXPECT_EQ(readFile(dir + "/" + address + ".bin"), javaImage(contents[static_cast<std::size_t>(i)]))
            << address;
        EXPECT_NE(r.output.find("\nVNsim " + address + ": "), std::string::npos) << r.output;
    }
    EXPECT_EQ(lastLine(r.output), "VNsim: " + devices + ": " + std::to_string(loaders) +
                                      " passed every check, 0 failed a check, 0 without a finish packet");
}

TEST(VNsimFleet, ADeviceTakesASecondUpdateAfterItsVerdict)
{
    if (programsUnderWine())
        GTEST_SKIP() << "the second transfer must start within a second of the first one's end";
    const std::string dir = makeTempDir();
    RunningProgram sim = startProgram("VNsim", {"--devices", "127.0.1.9-127.0.1.9", "--idle-ms",
                                                "10000", "-o", dir});
    ASSERT_TRUE(waitForOutput(sim, "127.0.1.9:69, 1 device\n", 5000)) << sim.output;
    Bytes second;
    for (unsigned seed : {50u, 51u}) {
        second = randomBytes(3000, seed);
        writeFile(dir + "/app.jar", second);
        ProgramResult loader =
            runProgram("VNloader", {"-IP", "127.0.1.9", "-NE", "-T", "J", "-f", "app.jar"}, 10000, dir);
        EXPECT_EQ(loader.status, 1) << loader.output;
    }
    ProgramResult r = finishProgram(sim, 5000);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readFile(dir + "/127.0.1.9.bin"), javaImage(second));
    EXPECT_EQ(r.output.find("\n127.0.1.9: finish again"), std::string::npos) << r.output;
    EXPECT_EQ(lastLine(r.output),
              "VNsim: 1 device: 1 passed every check, 0 failed a check, 0 without a finish packet");
}

TEST(VNsimFleet, StaysForTheFinishPacketSentAgainAfterAShortFinishReply)
{
    // VNfleet drops a 3-byte reply and sends the finish packet again after
    // its whole 10 s wait: the device must still be there.
    const std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.7.1\n");
    RunningProgram sim = startDevices({"--devices", "127.0.7.1-127.0.7.1", "-P", "pw", "-K", "fleet-key",
                                       "--reply-length", "3@finish", "--idle-ms", "30000"},
                                      dir);
    ASSERT_TRUE(waitForOutput(sim, "listening on", startupMs())) << sim.output;
    ProgramResult fleet = runProgram("VNfleet", sendingJava({"-P", "pw"}), 60000, dir);
    ProgramResult r = finishProgram(sim, 20000);
    EXPECT_EQ(fleet.status, 0) << fleet.output;
    EXPECT_TRUE(holds(r.output, "127.0.7.1: finish again")) << r.output;
    EXPECT_EQ(r.status, 0) << r.output;
}
