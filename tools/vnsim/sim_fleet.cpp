#include "sim_fleet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "sim_device.h"
#include "sim_echo.h"
#include "sim_faults.h"
#include "sim_options.h"
#include "sim_summary.h"
#include "sim_usage.h"

namespace {
constexpr std::uint16_t UPDATE_PORT = 69;
constexpr std::uint16_t DEBUG_PORT = 9029;
constexpr int RECEIVE_SIZE = 65536;
// After the last device's finish packet: time left for finish packets sent
// again because a reply was lost. VNfleet sends one again only after a
// whole 10 s wait, so once a finish reply was lost, or was one VNfleet does
// not take (another length or code), the fleet waits longer.
constexpr long QUIET_AFTER_LAST_FINISH_MS = 1000;
constexpr long QUIET_AFTER_ODD_FINISH_REPLY_MS = 11000;
constexpr int FILES_BESIDE_THE_DEVICES = 64;
// Once devices are pinged: the time without a ping after which the pinger
// has gone (VNfleet pings each second).
constexpr long QUIET_AFTER_PINGS_MS = 3000;
constexpr int ECHO_BATCH = 256;
constexpr std::uint64_t NEVER = ~std::uint64_t{0};

struct Device {
    PlatformSocket sock = PLATFORM_NO_SOCKET;
    std::uint32_t ip = 0;  // network byte order
    char address[16] = "";
    SimState state{};
    SimFaultProgress faults{};
    std::uint64_t random = 0;
    // A reply held back while the device writes the packet's pages.
    std::uint64_t replyAt = NEVER;
    SimAnswer pending{};
    PlatformAddress pendingTo{};
    // The device's verdict, once it has one.
    bool done = false;
    bool summarized = false;
    int status = SIM_EXIT_NO_FINISH;
    std::uint8_t finishCode = 0;
    std::uint8_t finishReason = 0;
    char stopReason[32] = "";
    int firstStart = -1;  // first packet of the update that got the verdict
    SimPower power{};
};

std::uint8_t datagram[RECEIVE_SIZE];
std::uint8_t reply[SIM_MAX_REPLY_LENGTH + PACKET_HEADER_SIZE];

// splitmix64: a few bytes of state per device, the same draws for a seed.
double draw(Device& device)
{
    std::uint64_t z = (device.random += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
}

void serve(Device& device)
{
    simState = &device.state;
    restoreFaultProgress(&device.faults);
}

bool openDevices(std::vector<Device>& devices)
{
    if (!platformRaiseOpenFileLimit(static_cast<int>(devices.size()) + FILES_BESIDE_THE_DEVICES))
        companionError("VNsim: cannot raise the open-file limit for %d devices\n",
                 static_cast<int>(devices.size()));
    for (std::size_t i = 0; i < devices.size(); ++i) {
        Device& device = devices[i];
        std::uint32_t host = simOptions.firstDevice + static_cast<std::uint32_t>(i);
        std::uint8_t octets[4] = {static_cast<std::uint8_t>(host >> 24),
                                  static_cast<std::uint8_t>(host >> 16),
                                  static_cast<std::uint8_t>(host >> 8),
                                  static_cast<std::uint8_t>(host)};
        std::memcpy(&device.ip, octets, sizeof octets);
        std::snprintf(device.address, sizeof device.address, "%d.%d.%d.%d", octets[0], octets[1],
                      octets[2], octets[3]);
        device.random = simOptions.seed * 0x100000001B3u + host;
        device.power.neverBack = drawnNeverBack(host);
        device.sock = platformUdpOpen();
        if (device.sock == PLATFORM_NO_SOCKET ||
            !platformUdpBind(device.sock, device.ip, UPDATE_PORT)) {
            char text[256];
            int code = platformPendingError();
            if (platformSystemText(code, text, sizeof text) < 0)
                std::snprintf(text, sizeof text, "error %d\n", code);
            companionError("VNsim: cannot bind %s:%d: %s", device.address, UPDATE_PORT, text);
            return false;
        }
        platformIgnoreConnReset(device.sock);
    }
    return true;
}

void sendReplyNow(Device& device, const SimAnswer& answer, PlatformAddress to)
{
    int length = buildReply(&answer, reply, static_cast<int>(sizeof reply));
    for (int i = 0; i < answer.copies; ++i)
        if (platformSendTo(device.sock, reply, length, to) < 0)
            companionError("VNsim %s: reply not sent\n", device.address);
}

// The device's summary line, its image file, and its pages let go: a fleet
// in flight holds only the devices still receiving.
void summarize(Device& device, const char* stopReason, int* worst)
{
    serve(device);
    char path[SIM_PATH_SIZE + 32] = "";
    if (simOptions.outputPath[0] != '\0')
        std::snprintf(path, sizeof path, "%s/%s.bin", simOptions.outputPath, device.address);
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "VNsim %s: ", device.address);
    device.status = summarizeDevice(prefix, stopReason, path);
    device.summarized = true;
    consolePrint("%s\n", deviceSummary());
    if (device.status == SIM_EXIT_CHECK_FAILED || *worst == SIM_EXIT_OK)
        *worst = device.status;
    if (!device.state.packetsByStart.empty())
        device.firstStart = device.state.packetsByStart.begin()->first;
    std::map<int, SimPage>().swap(device.state.pages);
    std::map<int, SimPacket>().swap(device.state.packetsByStart);
    std::vector<std::uint8_t>().swap(device.state.image);
}

// A finish packet sent again after the device's verdict: the same answer.
void answerFinishAgain(Device& device, int length, SimAnswer* answer)
{
    std::memset(answer, 0, sizeof *answer);
    answer->target = SIM_TARGET_FINISH;
    answer->isFinish = true;
    answer->replyLength = REPLY_LENGTH;
    answer->copies = 1;
    answer->replyCode = device.finishCode;
    answer->nackReason = device.finishReason;
    std::snprintf(answer->line, sizeof answer->line, "finish again, %d bytes: %s %d", length,
                  device.finishCode == TFTP_ACK ? "ack" : "nack",
                  device.finishCode == TFTP_ACK ? 0 : device.finishReason);
}

// Loss and duplication of the reply, decided now even when it goes later.
void disturbReply(Device& device, SimAnswer* answer)
{
    if (answer->copies == 1 && draw(device) < simOptions.dup) {
        answer->copies = 2;
        appendLine(answer, ", sent twice (random)");
    }
    int lost = 0;
    for (int i = 0; i < answer->copies; ++i)
        if (draw(device) < simOptions.loss)
            ++lost;
    if (lost != 0) {
        answer->copies -= lost;
        appendLine(answer, ", %d repl%s lost (random)", lost, lost == 1 ? "y" : "ies");
    }
}

struct Fleet {
    std::vector<Device> devices;
    int doneCount = 0;
    int worst = SIM_EXIT_OK;
    std::uint64_t lastPacket = 0;
    bool finishMayComeAgain = false;
    PlatformSocket echo = PLATFORM_NO_SOCKET;
    bool pinged = false;            // an echo request came for a device
    std::uint64_t rebootsEndMs = 0;  // the last reboot's end
};

// The echo requests waiting on the raw socket, answered for the devices
// that are up.
void serveEcho(Fleet& fleet, std::uint64_t now)
{
    EchoRequest request;
    for (int i = 0; i < ECHO_BATCH && receiveEchoRequest(fleet.echo, &request); ++i) {
        std::uint32_t host = hostOrderOf(request.to);
        std::uint32_t index = host - simOptions.firstDevice;
        if (host < simOptions.firstDevice || index >= fleet.devices.size())
            continue;
        fleet.pinged = true;
        fleet.lastPacket = now;
        if (!silent(fleet.devices[index].power, now))
            answerEchoRequest(fleet.echo, request);
    }
}

// A finish reply the loader takes as its answer: at least one ACK or NACK of
// a reply's length.
bool plainFinishReply(const SimAnswer& answer)
{
    return answer.copies > 0 && answer.replyLength == REPLY_LENGTH &&
           (answer.replyCode == TFTP_ACK || answer.replyCode == TFTP_NACK);
}

void handle(Fleet& fleet, Device& device, int length, PlatformAddress from, std::uint64_t now)
{
    fleet.lastPacket = now;
    if (silent(device.power, now)) {
        consolePrint("%s: datagram of %d bytes unanswered: %s\n", device.address, length,
                     device.power.dead ? "never back" : "rebooting");
        return;
    }
    if (draw(device) < simOptions.loss) {
        consolePrint("%s: datagram of %d bytes lost on the way in (random)\n", device.address, length);
        return;
    }
    // After a verdict, the first packet of that update again is a new
    // update: a late copy of it cannot come once later packets were answered.
    bool restart = device.summarized && length >= PACKET_HEADER_SIZE &&
                   datagram[OFF_OPCODE] == TFTP_CODE_UPDATE &&
                   getU16(datagram + OFF_START_PAGE) == device.firstStart;
    if (restart) {
        device.state = SimState{};
        device.done = false;
        device.summarized = false;
        --fleet.doneCount;
    }
    serve(device);
    bool isFinish = length >= PACKET_HEADER_SIZE && datagram[OFF_OPCODE] == TFTP_FINISH;
    bool firstCodeUpdate = false;
    SimAnswer answer;
    if (isFinish && device.state.finishArrived) {
        answerFinishAgain(device, length, &answer);
    } else {
        bool wasStarted = device.state.started;
        handleDatagram(datagram, length, &answer);
        applyFaults(&answer);
        saveFaultProgress(&device.faults);
        firstCodeUpdate = device.state.started && !wasStarted;
    }
    const char* messages[SIM_MAX_DEBUG_MESSAGES];
    int count = debugMessagesFor(answer, firstCodeUpdate, messages);
    for (int i = 0; i < count; ++i)
        platformSendTo(device.sock, messages[i], static_cast<int>(std::strlen(messages[i])),
                       PlatformAddress{from.ip, DEBUG_PORT});
    disturbReply(device, &answer);
    fleet.finishMayComeAgain =
        fleet.finishMayComeAgain || (answer.isFinish && !plainFinishReply(answer));
    consolePrint("%s: %s\n", device.address, answer.line);

    SimAnswer late;
    if (answer.isFinish && takeLateAnswer(&late)) {
        sendReplyNow(device, late, from);
        saveFaultProgress(&device.faults);
    }
    if (simOptions.ackDelayMs > 0 && answer.target >= 0 && answer.copies > 0) {
        device.pending = answer;
        device.pendingTo = from;
        device.replyAt = now + static_cast<std::uint64_t>(simOptions.ackDelayMs);
    } else {
        sendReplyNow(device, answer, from);
    }

    if (answer.isFinish && !device.summarized) {
        if (answer.replyCode == TFTP_ACK) {
            startReboot(&device.power, now);
            if (!device.power.dead && device.power.silentUntilMs > fleet.rebootsEndMs)
                fleet.rebootsEndMs = device.power.silentUntilMs;
        }
        device.finishCode = answer.replyCode;
        device.finishReason = answer.nackReason;
        if (!device.done)
            ++fleet.doneCount;
        device.done = true;
        summarize(device, nullptr, &fleet.worst);
    } else if (answer.endsRun && !device.done) {
        std::snprintf(device.stopReason, sizeof device.stopReason, "stopped after nack %d",
                      answer.nackReason);
        device.done = true;
        ++fleet.doneCount;
    }
}

// Sends the replies whose time has come; the earliest one still waiting.
std::uint64_t sendDueReplies(Fleet& fleet, std::uint64_t now)
{
    std::uint64_t next = NEVER;
    for (Device& device : fleet.devices) {
        if (device.replyAt == NEVER)
            continue;
        if (device.replyAt <= now) {
            sendReplyNow(device, device.pending, device.pendingTo);
            device.replyAt = NEVER;
        } else if (device.replyAt < next) {
            next = device.replyAt;
        }
    }
    return next;
}

int endFleet(Fleet& fleet, const char* stopReason)
{
    int updated = 0;
    int failed = 0;
    for (Device& device : fleet.devices) {
        if (!device.summarized)
            summarize(device, device.stopReason[0] != '\0' ? device.stopReason : stopReason,
                      &fleet.worst);
        updated += device.status == SIM_EXIT_OK ? 1 : 0;
        failed += device.status == SIM_EXIT_CHECK_FAILED ? 1 : 0;
    }
    int total = static_cast<int>(fleet.devices.size());
    consolePrint("VNsim: %d device%s: %d passed every check, %d failed a check, %d without a "
                 "finish packet\n",
                 total, total == 1 ? "" : "s", updated, failed, total - updated - failed);
    return fleet.worst;
}
}  // namespace

int runFleet()
{
    Fleet fleet;
    fleet.devices.resize(static_cast<std::size_t>(simOptions.deviceCount));
    if (!openDevices(fleet.devices))
        return SIM_EXIT_NO_BIND;
    fleet.echo = openEchoSocket();
    if (fleet.echo == PLATFORM_NO_SOCKET && rebootsAsked())
        return SIM_EXIT_NO_BIND;
    consolePrint("VNsim: listening on %s-%s:%d, %d device%s\n", fleet.devices.front().address,
                 fleet.devices.back().address, UPDATE_PORT, simOptions.deviceCount,
                 simOptions.deviceCount == 1 ? "" : "s");

    std::vector<PlatformSocket> socks;
    std::vector<Device*> polled;
    std::vector<unsigned char> ready(fleet.devices.size() + 1);
    fleet.lastPacket = platformMonotonicMs();
    char reason[64];
    for (;;) {
        std::uint64_t now = platformMonotonicMs();
        std::uint64_t nextReply = sendDueReplies(fleet, now);
        std::uint64_t next = nextReply;
        std::uint64_t quietMs = now - fleet.lastPacket;
        if (simOptions.idleMs != 0) {
            if (quietMs >= static_cast<std::uint64_t>(simOptions.idleMs)) {
                std::snprintf(reason, sizeof reason, "idle for %ld ms", simOptions.idleMs);
                return endFleet(fleet, reason);
            }
            std::uint64_t idleEnd = fleet.lastPacket + static_cast<std::uint64_t>(simOptions.idleMs);
            next = idleEnd < next ? idleEnd : next;
        }
        std::uint64_t quietAfterLast = static_cast<std::uint64_t>(
            fleet.finishMayComeAgain ? QUIET_AFTER_ODD_FINISH_REPLY_MS : QUIET_AFTER_LAST_FINISH_MS);
        if (fleet.pinged && quietAfterLast < QUIET_AFTER_PINGS_MS)
            quietAfterLast = QUIET_AFTER_PINGS_MS;
        // A rebooting device is still to be seen back.
        std::uint64_t quietEnd = std::max(fleet.lastPacket + quietAfterLast, fleet.rebootsEndMs);
        if (fleet.doneCount == simOptions.deviceCount && nextReply == NEVER && now >= quietEnd)
            return endFleet(fleet, nullptr);
        if (fleet.doneCount == simOptions.deviceCount)
            next = quietEnd < next ? quietEnd : next;

        // A device writing its pages reads nothing until it has answered.
        socks.clear();
        polled.clear();
        for (Device& device : fleet.devices) {
            if (device.replyAt != NEVER)
                continue;
            socks.push_back(device.sock);
            polled.push_back(&device);
        }
        if (fleet.echo != PLATFORM_NO_SOCKET)
            socks.push_back(fleet.echo);
        int waitMs = next == NEVER ? -1 : static_cast<int>(next > now ? next - now : 0);
        int count = platformPoll(socks.data(), static_cast<int>(socks.size()), ready.data(), waitMs);
        if (count < 0) {
            companionError("VNsim: waiting for packets failed\n");
            return endFleet(fleet, "wait failed");
        }
        now = platformMonotonicMs();
        if (fleet.echo != PLATFORM_NO_SOCKET && count > 0 && ready[polled.size()]) {
            --count;
            serveEcho(fleet, now);
        }
        for (std::size_t i = 0; i < polled.size() && count > 0; ++i) {
            if (!ready[i])
                continue;
            --count;
            PlatformAddress from{};
            int length = platformRecvFrom(polled[i]->sock, datagram, RECEIVE_SIZE, &from);
            if (length >= 0)
                handle(fleet, *polled[i], length, from, now);
        }
    }
}
