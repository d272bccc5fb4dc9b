// ICMP echo on Windows: one ICMP handle, each request sent with
// IcmpSendEcho2 on its own event and reply buffer. A reply is handed back in
// the shape of the echo reply message a socket would have received.
#include "platform/platform.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
// A reply later than this is not waited for: the next request goes anyway.
constexpr DWORD REQUEST_TIMEOUT_MS = 1000;
constexpr int MAX_PAYLOAD = 64;
constexpr int REPLY_BUFFER_SIZE = sizeof(ICMP_ECHO_REPLY) + MAX_PAYLOAD + 8 + 64;

struct Request {
    HANDLE event;
    std::uint16_t sequence;
    std::uint8_t payload[MAX_PAYLOAD];
    alignas(8) std::uint8_t reply[REPLY_BUFFER_SIZE];
};
}  // namespace

struct PlatformPinger {
    HANDLE icmp;
    std::uint16_t identifier;
    std::vector<Request*> pending;
    std::vector<Request*> free;
};

PlatformPinger* platformPingerOpen(char* why, std::size_t size)
{
    HANDLE icmp = IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE) {
        char text[256];
        if (platformSystemText(static_cast<int>(GetLastError()), text, sizeof text) < 0)
            std::snprintf(text, sizeof text, "error %lu", GetLastError());
        std::snprintf(why, size, "IcmpCreateFile failed: %s", text);
        return nullptr;
    }
    return new PlatformPinger{icmp, static_cast<std::uint16_t>(GetCurrentProcessId()), {}, {}};
}

std::uint16_t platformPingerIdentifier(const PlatformPinger* pinger)
{
    return pinger->identifier;
}

bool platformPingerSend(PlatformPinger* pinger, std::uint32_t ip, const void* message, int length)
{
    const auto* bytes = static_cast<const std::uint8_t*>(message);
    int payloadLength = length - 8;
    if (payloadLength < 0 || payloadLength > MAX_PAYLOAD)
        return false;
    Request* request = nullptr;
    if (!pinger->free.empty()) {
        request = pinger->free.back();
        pinger->free.pop_back();
        ResetEvent(request->event);
    } else {
        request = new Request{};
        request->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!request->event) {
            delete request;
            return false;
        }
    }
    request->sequence = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    std::memcpy(request->payload, bytes + 8, static_cast<std::size_t>(payloadLength));
    DWORD got = IcmpSendEcho2(pinger->icmp, request->event, nullptr, nullptr, ip, request->payload,
                              static_cast<WORD>(payloadLength), nullptr, request->reply,
                              REPLY_BUFFER_SIZE, REQUEST_TIMEOUT_MS);
    if (got == 0 && GetLastError() != ERROR_IO_PENDING) {
        platformSetPendingError(static_cast<int>(GetLastError()));
        pinger->free.push_back(request);
        return false;
    }
    // Done at once or later: the event is set either way.
    pinger->pending.push_back(request);
    return true;
}

PlatformSocket platformPingerSocket(const PlatformPinger*)
{
    return PLATFORM_NO_SOCKET;
}

int platformPingerReceive(PlatformPinger* pinger, void* buffer, int size, std::uint32_t* from)
{
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < pinger->pending.size(); ++i) {
        Request* request = pinger->pending[i];
        if (WaitForSingleObject(request->event, 0) != WAIT_OBJECT_0)
            continue;
        pinger->pending[i] = pinger->pending.back();
        pinger->pending.pop_back();
        pinger->free.push_back(request);
        if (IcmpParseReplies(request->reply, REPLY_BUFFER_SIZE) == 0)
            continue;  // timed out or unreachable
        const auto* reply = reinterpret_cast<const ICMP_ECHO_REPLY*>(request->reply);
        int dataLength = reply->DataSize <= MAX_PAYLOAD ? reply->DataSize : MAX_PAYLOAD;
        if (reply->Status != IP_SUCCESS || 8 + dataLength > size)
            continue;
        out[0] = 0;  // echo reply
        out[1] = 0;
        out[2] = 0;
        out[3] = 0;
        out[4] = static_cast<std::uint8_t>(pinger->identifier >> 8);
        out[5] = static_cast<std::uint8_t>(pinger->identifier);
        out[6] = static_cast<std::uint8_t>(request->sequence >> 8);
        out[7] = static_cast<std::uint8_t>(request->sequence);
        if (dataLength > 0 && reply->Data)
            std::memcpy(out + 8, reply->Data, static_cast<std::size_t>(dataLength));
        *from = reply->Address;
        return 8 + dataLength;
    }
    return -1;
}

void platformPingerClose(PlatformPinger* pinger)
{
    // Requests still out end within their time-out: a process that ends
    // before them can leave Wine's ICMP service stuck for every later one.
    const ULONGLONG until = GetTickCount64() + REQUEST_TIMEOUT_MS + 500;
    for (Request* request : pinger->pending) {
        ULONGLONG now = GetTickCount64();
        WaitForSingleObject(request->event, now < until ? static_cast<DWORD>(until - now) : 0);
    }
    // The requests' buffers stay: the process is ending anyway.
    IcmpCloseHandle(pinger->icmp);
    pinger->icmp = INVALID_HANDLE_VALUE;
}

PlatformSocket platformRawIcmpOpen()
{
    // Raw sockets that see echo requests need administrator rights and
    // SIO_RCVALL there: VNsim answers pings on Linux only.
    platformSetPendingError(WSAEOPNOTSUPP);
    return PLATFORM_NO_SOCKET;
}
