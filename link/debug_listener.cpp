#include "link/debug_listener.h"

#include <cstdio>

#include "diag/console.h"
#include "diag/log.h"
#include "link/ports.h"

namespace {
constexpr int DEBUG_RECEIVE_BUFFER = 4 * 1024 * 1024;

bool mustEscape(unsigned char c)
{
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F;
}

std::size_t escapeText(char* out, std::size_t size, const char* text)
{
    static const char hex[] = "0123456789abcdef";
    std::size_t used = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        std::size_t need = mustEscape(*p) ? 4 : 1;
        if (used + need >= size)
            break;
        if (need == 4) {
            out[used++] = '\\';
            out[used++] = 'x';
            out[used++] = hex[*p >> 4];
            out[used++] = hex[*p & 0x0F];
        } else {
            out[used++] = static_cast<char>(*p);
        }
    }
    out[used] = '\0';
    return used;
}
}  // namespace

std::size_t formatDebugLine(char* out, std::size_t size, const PlatformTime& when,
                            const char* senderText, const char* text)
{
    char escaped[4 * DEBUG_DATAGRAM_SIZE + 1];
    escapeText(escaped, sizeof escaped, text);
    int n = senderText
                ? std::snprintf(out, size, "Dbg>%02d %02d:%02d:%02d %s: %s\n", when.day, when.hour,
                                when.minute, when.second, senderText, escaped)
                : std::snprintf(out, size, "Dbg>%02d %02d:%02d:%02d %s\n", when.day, when.hour,
                                when.minute, when.second, escaped);
    if (n < 0)
        return 0;
    return static_cast<std::size_t>(n) < size ? static_cast<std::size_t>(n) : size - 1;
}

void DbgMsgThread(void*)
{
    PlatformSocket sock = platformUdpOpen();
    if (sock == PLATFORM_NO_SOCKET) {
        logMessage("socket creation failed");
        return;
    }
    if (!platformUdpBind(sock, PLATFORM_ANY_ADDRESS, DEBUG_PORT)) {
        logMessage("bind:");
        platformClose(sock);
        consolePrint("Could not bind to the debug port:%d check to make sure there isn't another "
                     "copy of this program running\n",
                     DEBUG_PORT);
        return;
    }
    // Room for a burst: the device may send faster than the console takes it.
    platformSetReceiveBuffer(sock, DEBUG_RECEIVE_BUFFER);
    char text[DEBUG_DATAGRAM_SIZE + 1];
    char line[DEBUG_LINE_SIZE];
    for (;;) {
        PlatformAddress from{};
        int got = platformRecvFrom(sock, text, DEBUG_DATAGRAM_SIZE, &from);
        if (got < 0) {
            // Nothing meaningful arrived: no Dbg> line from stale bytes.
            logMessage("recvfrom:");
            continue;
        }
        text[got] = '\0';
        PlatformTime now{};
        platformLocalTime(&now);
        char sender[32];
        bool named = platformFormatIPv4(from.ip, sender, sizeof sender);
        std::size_t length = formatDebugLine(line, sizeof line, now, named ? sender : nullptr, text);
        consoleWrite(line, length);
    }
}
