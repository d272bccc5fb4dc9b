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

// The UTF-8 form of a C1 control (C2 80 to C2 9F); C2 9B is CSI, which a
// terminal acts on like ESC [. text[1] exists: text[0] is no terminator.
bool isUtf8C1(const unsigned char* text)
{
    return text[0] == 0xC2 && text[1] >= 0x80 && text[1] <= 0x9F;
}

// How many bytes from here come out as \xNN each: 0, 1 or a C1 pair.
std::size_t bytesToEscape(const unsigned char* text)
{
    if (isUtf8C1(text))
        return 2;
    return mustEscape(*text) ? 1 : 0;
}

std::size_t escapeText(char* out, std::size_t size, const char* text)
{
    static const char hex[] = "0123456789abcdef";
    std::size_t used = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p;) {
        const std::size_t escaped = bytesToEscape(p);
        const std::size_t need = escaped ? 4 * escaped : 1;
        if (used + need >= size)
            break;
        if (escaped == 0)
            out[used++] = static_cast<char>(*p++);
        for (std::size_t i = 0; i < escaped; ++i, ++p) {
            out[used++] = '\\';
            out[used++] = 'x';
            out[used++] = hex[*p >> 4];
            out[used++] = hex[*p & 0x0F];
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
    char line[DEBUG_LINE_SIZE];
    for (;;) {
        int length = receiveDebugLine(sock, line, sizeof line);
        if (length < 0) {
            // Nothing meaningful arrived: no Dbg> line from stale bytes.
            logMessage("recvfrom:");
            continue;
        }
        consoleWrite(line, static_cast<std::size_t>(length));
    }
}

int receiveDebugLine(PlatformSocket sock, char* line, std::size_t size)
{
    char text[DEBUG_DATAGRAM_SIZE + 1];
    PlatformAddress from{};
    int got = platformRecvFrom(sock, text, DEBUG_DATAGRAM_SIZE, &from);
    if (got < 0)
        return -1;
    text[got] = '\0';
    PlatformTime now{};
    platformLocalTime(&now);
    char sender[32];
    bool named = platformFormatIPv4(from.ip, sender, sizeof sender);
    return static_cast<int>(formatDebugLine(line, size, now, named ? sender : nullptr, text));
}
