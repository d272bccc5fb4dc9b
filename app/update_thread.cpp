// UpdateThread: the update socket under VNloader's transfer.
#include "app/settings.h"
#include "app/update_transfer.h"
#include "diag/console.h"
#include "diag/log.h"
#include "link/packets.h"
#include "platform/platform.h"

namespace {
struct SocketLink {
    PlatformSocket sock;
    PlatformAddress device;
    PlatformEvent* event;
};

int socketSend(void* context, const std::uint8_t* data, int length)
{
    auto* link = static_cast<SocketLink*>(context);
    return platformSendTo(link->sock, data, length, link->device);
}

int socketWait(void* context, int timeoutMs)
{
    return platformWaitEvent(static_cast<SocketLink*>(context)->event, timeoutMs);
}

int socketReceive(void* context, std::uint8_t* buffer, int size)
{
    // Any sender counts: the reply is whatever reaches the update socket.
    PlatformAddress from{};
    return platformRecvFrom(static_cast<SocketLink*>(context)->sock, buffer, size, &from);
}
int socketDrain(void* context)
{
    auto* link = static_cast<SocketLink*>(context);
    return platformDrainSocket(link->sock, link->event);
}
}  // namespace

void UpdateThread(void* /*argument*/)
{
    SocketLink socketLink{PLATFORM_NO_SOCKET, PlatformAddress{0, 0}, nullptr};

    socketLink.sock = platformUdpOpen();
    if (socketLink.sock == PLATFORM_NO_SOCKET) {
        logMessage("socket failed");
        return;
    }
    if (!platformUdpBind(socketLink.sock, PLATFORM_ANY_ADDRESS, 0)) {
        logMessage("bind:");
        platformClose(socketLink.sock);
        return;
    }
    platformIgnoreConnReset(socketLink.sock);

    std::uint32_t ip = platformParseIPv4(settings.targetIp);
    if (ip == PLATFORM_BAD_ADDRESS) {
        consolePrint("Cannot send to %s: not an IPv4 address\n", settings.targetIp);
        platformExit(1);
    }
    socketLink.device = PlatformAddress{ip, settings.updatePort};

    socketLink.event = platformCreateEvent();
    if (socketLink.event == nullptr || !platformSelectRead(socketLink.sock, socketLink.event)) {
        logMessage("WSAEventSelect failed in UpdateThread()");
        platformExit(1);
    }

    UpdateLink link{&socketLink, socketSend, socketWait, socketReceive, REPLY_TIMEOUT_MS,
                    socketDrain};
    platformExit(runUpdate(&link));
}
