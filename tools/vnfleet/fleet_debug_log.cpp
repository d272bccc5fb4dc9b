#include "fleet_debug_log.h"

#include "link/debug_listener.h"
#include "link/ports.h"
#include "companion_cli.h"

namespace {
constexpr int DEBUG_RECEIVE_BYTES = 4 * 1024 * 1024;
}

DebugLog openDebugLog(std::FILE* file)
{
    DebugLog log{PLATFORM_NO_SOCKET, file};
    if (!file)
        return log;
    log.sock = platformUdpOpen();
    if (log.sock == PLATFORM_NO_SOCKET ||
        !platformUdpBind(log.sock, PLATFORM_ANY_ADDRESS, DEBUG_PORT)) {
        if (log.sock != PLATFORM_NO_SOCKET)
            platformClose(log.sock);
        log.sock = PLATFORM_NO_SOCKET;
        companionError("VNfleet: UDP port %d is taken: no debug log\n", DEBUG_PORT);
        return log;
    }
    platformIgnoreConnReset(log.sock);
    // Many devices may talk at once.
    platformSetReceiveBuffer(log.sock, DEBUG_RECEIVE_BYTES);
    return log;
}

void copyDebugLine(DebugLog* log)
{
    char line[DEBUG_LINE_SIZE];
    int length = receiveDebugLine(log->sock, line, sizeof line);
    if (length < 0)
        return;
    std::fwrite(line, 1, static_cast<std::size_t>(length), log->file);
    std::fflush(log->file);
}

void lingerOnDebugLog(DebugLog* log)
{
    if (log->sock == PLATFORM_NO_SOCKET)
        return;
    const std::uint64_t end = platformMonotonicMs() + DEBUG_LINGER_MS;
    unsigned char ready = 0;
    for (std::uint64_t now = platformMonotonicMs(); now < end && !platformInterrupted();
         now = platformMonotonicMs()) {
        // Short waits: on Windows an interrupt does not cut a wait short.
        int waitMs = static_cast<int>(end - now < 100 ? end - now : 100);
        if (platformPoll(&log->sock, 1, &ready, waitMs) < 0)
            return;
        if (ready)
            copyDebugLine(log);
    }
}

void closeDebugLog(DebugLog* log)
{
    if (log->sock != PLATFORM_NO_SOCKET)
        platformClose(log->sock);
    log->sock = PLATFORM_NO_SOCKET;
}
