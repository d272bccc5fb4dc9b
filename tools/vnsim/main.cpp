// VNsim: stands in for the device's code-update service so that VNloader
// can be run and tested without hardware.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "diag/console.h"
#include "platform/platform.h"
#include "sim_device.h"
#include "sim_echo.h"
#include "sim_faults.h"
#include "sim_fleet.h"
#include "sim_options.h"
#include "sim_summary.h"
#include "sim_usage.h"
#include "platform/text_names.h"

namespace {
constexpr std::uint16_t SIM_UPDATE_PORT = 69;
constexpr std::uint16_t SIM_DEBUG_PORT = 9029;
constexpr int RECEIVE_SIZE = 65536;
constexpr long WAIT_SLICE_MS = 60000;
// After the reboot: the time without a ping after which the pinger has gone.
constexpr long QUIET_AFTER_PINGS_MS = 3000;

std::uint8_t datagram[RECEIVE_SIZE];
std::uint8_t reply[SIM_MAX_REPLY_LENGTH + PACKET_HEADER_SIZE];

struct SimLink {
    PlatformSocket updateSocket;
    PlatformSocket debugSocket;  // PLATFORM_NO_SOCKET: no debug messages
    PlatformEvent* ready;
    PlatformSocket echo;         // PLATFORM_NO_SOCKET: the kernel answers pings, if anyone
    SimPower power;
};

// Waits for a datagram (1) or an echo request (2); 0 after waitMs, -1 when
// the wait failed.
int waitForInput(const SimLink& link, int waitMs)
{
    if (link.echo == PLATFORM_NO_SOCKET)
        return platformWaitEvent(link.ready, waitMs);
    const PlatformSocket socks[2] = {link.updateSocket, link.echo};
    unsigned char ready[2] = {0, 0};
    int count = platformPoll(socks, 2, ready, waitMs);
    return count <= 0 ? count : ready[1] ? 2 : 1;
}

// One echo request: answered when it pings this device and the device is up.
void serveEcho(SimLink* link, std::uint64_t* lastPacket)
{
    EchoRequest request;
    if (!receiveEchoRequest(link->echo, &request) ||
        (simOptions.bindIp != PLATFORM_ANY_ADDRESS && request.to != simOptions.bindIp))
        return;
    *lastPacket = platformMonotonicMs();
    if (!silent(link->power, *lastPacket))
        answerEchoRequest(link->echo, request);
}

// After an accepted finish packet: the device reboots, answering pings
// again when it is back (unless never), until nobody pings any more.
[[noreturn]] void rebootAndStop(SimLink* link, std::uint64_t lastPacket)
{
    startReboot(&link->power, platformMonotonicMs());
    int status = endRun(nullptr);
    for (;;) {
        std::uint64_t now = platformMonotonicMs();
        std::uint64_t end = std::max(lastPacket + QUIET_AFTER_PINGS_MS,
                                     link->power.dead ? 0 : link->power.silentUntilMs);
        if (simOptions.idleMs != 0 && now - lastPacket >= static_cast<std::uint64_t>(simOptions.idleMs))
            platformExit(status);
        if (now >= end)
            platformExit(status);
        int ready = waitForInput(*link, static_cast<int>(end - now));
        if (ready < 0)
            platformExit(status);
        if (ready == 2) {
            serveEcho(link, &lastPacket);
        } else if (ready == 1) {
            PlatformAddress loader{};
            int length = platformRecvFrom(link->updateSocket, datagram, RECEIVE_SIZE, &loader);
            if (length >= 0)
                consolePrint("datagram of %d bytes unanswered: %s\n", length,
                             silent(link->power, platformMonotonicMs()) ? "rebooting" : "updated");
        }
    }
}

[[noreturn]] void stop(const char* reason)
{
    platformExit(endRun(reason));
}

void reportBindFailure()
{
    char text[256];
    int code = platformPendingError();
    if (platformSystemText(code, text, sizeof text) < 0)
        std::snprintf(text, sizeof text, "error %d", code);
    // The system's wording ends in a line break of its own.
    std::size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
        text[--length] = '\0';
    companionError("VNsim: cannot bind %s:%d: %s\n", simOptions.bindText, SIM_UPDATE_PORT, text);
}

bool openLink(SimLink* link)
{
    link->updateSocket = platformUdpOpen();
    if (link->updateSocket == PLATFORM_NO_SOCKET ||
        !platformUdpBind(link->updateSocket, simOptions.bindIp, SIM_UPDATE_PORT)) {
        reportBindFailure();
        return false;
    }
    // A reply to a loader that has already gone must not break the next receive.
    platformIgnoreConnReset(link->updateSocket);
    link->ready = platformCreateEvent();
    if (!link->ready || !platformSelectRead(link->updateSocket, link->ready)) {
        companionError("VNsim: cannot wait for packets\n");
        return false;
    }
    link->debugSocket = platformUdpOpen();
    if (link->debugSocket != PLATFORM_NO_SOCKET &&
        !platformUdpBind(link->debugSocket, simOptions.bindIp, 0)) {
        platformClose(link->debugSocket);
        link->debugSocket = PLATFORM_NO_SOCKET;
    }
    if (link->debugSocket != PLATFORM_NO_SOCKET)
        platformIgnoreConnReset(link->debugSocket);
    return true;
}

// A debug message, as the device sends them, to the loader's listener.
void sendDebug(const SimLink& link, PlatformAddress loader, const char* text)
{
    if (link.debugSocket == PLATFORM_NO_SOCKET)
        return;
    platformSendTo(link.debugSocket, text, static_cast<int>(std::strlen(text)),
                   PlatformAddress{loader.ip, SIM_DEBUG_PORT});
}

void reportToLoader(const SimLink& link, PlatformAddress loader, const SimAnswer& answer,
                    bool firstCodeUpdate)
{
    const char* messages[SIM_MAX_DEBUG_MESSAGES];
    int count = debugMessagesFor(answer, firstCodeUpdate, messages);
    for (int i = 0; i < count; ++i)
        sendDebug(link, loader, messages[i]);
}

void answerLoader(const SimLink& link, PlatformAddress loader, const SimAnswer& answer)
{
    SimAnswer late;
    if (answer.isFinish && takeLateAnswer(&late))
        answerLoader(link, loader, late);
    int length = buildReply(&answer, reply, static_cast<int>(sizeof reply));
    for (int i = 0; i < answer.copies; ++i)
        if (platformSendTo(link.updateSocket, reply, length, loader) < 0)
            companionError("VNsim: reply not sent\n");
}
}  // namespace

int main(int argc, char** argv)
{
    platformUtf8Arguments(&argc, &argv);
    int parsed = parseSimOptions(argc, argv);
    if (parsed != SIM_ARGS_RUN) {
        writeUsage(parsed == SIM_ARGS_HELP ? stdout : stderr);
        platformExit(parsed == SIM_ARGS_HELP ? SIM_EXIT_OK : SIM_EXIT_USAGE);
    }
    if (!platformNetStart()) {
        companionError("VNsim: cannot start sockets\n");
        platformExit(SIM_EXIT_NO_BIND);
    }
    if (simOptions.deviceCount != 0)
        platformExit(runFleet());
    SimLink link{PLATFORM_NO_SOCKET, PLATFORM_NO_SOCKET, nullptr, PLATFORM_NO_SOCKET, {}};
    if (!openLink(&link))
        platformExit(SIM_EXIT_NO_BIND);
    link.echo = openEchoSocket();
    if (link.echo == PLATFORM_NO_SOCKET && rebootsAsked())
        platformExit(SIM_EXIT_NO_BIND);
    link.power.neverBack = drawnNeverBack(hostOrderOf(simOptions.bindIp));
    consolePrint("VNsim: listening on %s:%d\n", simOptions.bindText, SIM_UPDATE_PORT);

    std::uint64_t lastPacket = platformMonotonicMs();
    char reason[64];
    for (;;) {
        long waitMs = WAIT_SLICE_MS;
        if (simOptions.idleMs != 0) {
            long idle = static_cast<long>(platformMonotonicMs() - lastPacket);
            if (idle >= simOptions.idleMs) {
                std::snprintf(reason, sizeof reason, "idle for %ld ms", simOptions.idleMs);
                stop(reason);
            }
            waitMs = simOptions.idleMs - idle;
        }
        int ready = waitForInput(link, static_cast<int>(waitMs));
        if (ready < 0) {
            companionError("VNsim: waiting for packets failed\n");
            stop("wait failed");
        }
        if (ready == 2)
            serveEcho(&link, &lastPacket);
        if (ready != 1)
            continue;
        PlatformAddress loader{};
        int length = platformRecvFrom(link.updateSocket, datagram, RECEIVE_SIZE, &loader);
        if (length < 0)
            continue;  // nothing there after all, or a reset from an earlier reply
        lastPacket = platformMonotonicMs();

        bool wasStarted = simState->started;
        SimAnswer answer;
        handleDatagram(datagram, length, &answer);
        applyFaults(&answer);
        reportToLoader(link, loader, answer, simState->started && !wasStarted);
        answerLoader(link, loader, answer);
        consolePrint("%s\n", answer.line);

        if (answer.endsRun) {
            if (answer.isFinish && answer.replyCode == TFTP_ACK && link.echo != PLATFORM_NO_SOCKET &&
                rebootsAsked())
                rebootAndStop(&link, lastPacket);
            if (answer.isFinish)
                stop(nullptr);
            std::snprintf(reason, sizeof reason, "stopped after nack %d", answer.nackReason);
            stop(reason);
        }
        if (simOptions.packetLimit != 0 && simState->packets >= simOptions.packetLimit) {
            std::snprintf(reason, sizeof reason, "stopped after %ld packets", simState->packets);
            stop(reason);
        }
    }
}
