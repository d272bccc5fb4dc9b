// Windows backend: Windows Sockets 2, Win32 threads, events, error text and
// file creation.
#include "platform/platform.h"

#include <winsock2.h>
#include <windows.h>
#include <mstcpip.h>
#include <ws2tcpip.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/wide_names_win.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif
#ifndef SIO_UDP_NETRESET
#define SIO_UDP_NETRESET _WSAIOW(IOC_VENDOR, 15)
#endif

namespace {
sockaddr_in toSockaddr(std::uint32_t ip, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = ip;
    sa.sin_port = htons(port);
    return sa;
}

struct ThreadStart {
    void (*entry)(void*);
    void* argument;
};

DWORD WINAPI threadTrampoline(LPVOID raw)
{
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.entry(start.argument);
    return 0;
}
}  // namespace

struct PlatformEvent {
    HANDLE handle;
};

bool platformNetStart()
{
    WSADATA data;
    return WSAStartup(0x0102, &data) == 0;
}

PlatformSocket platformUdpOpen()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET)
        return PLATFORM_NO_SOCKET;  // WSAGetLastError keeps why
    return static_cast<PlatformSocket>(s);
}

bool platformUdpBind(PlatformSocket sock, std::uint32_t ip, std::uint16_t port)
{
    sockaddr_in sa = toSockaddr(ip, port);
    return bind(static_cast<SOCKET>(sock), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

void platformClose(PlatformSocket sock)
{
    closesocket(static_cast<SOCKET>(sock));
}

int platformSendTo(PlatformSocket sock, const void* data, int length, PlatformAddress to)
{
    sockaddr_in sa = toSockaddr(to.ip, to.port);
    int sent = sendto(static_cast<SOCKET>(sock), static_cast<const char*>(data), length, 0,
                      reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int platformRecvFrom(PlatformSocket sock, void* buffer, int size, PlatformAddress* from)
{
    sockaddr_in sa{};
    int saLength = sizeof sa;
    int got = recvfrom(static_cast<SOCKET>(sock), static_cast<char*>(buffer), size, 0,
                       reinterpret_cast<sockaddr*>(&sa), &saLength);
    if (from) {
        from->ip = sa.sin_addr.s_addr;
        from->port = ntohs(sa.sin_port);
    }
    return got == SOCKET_ERROR ? -1 : got;
}

void platformSetReceiveBuffer(PlatformSocket sock, int bytes)
{
    setsockopt(static_cast<SOCKET>(sock), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
               sizeof bytes);
}

std::uint16_t platformLocalPort(PlatformSocket sock)
{
    sockaddr_in sa{};
    int saLength = sizeof sa;
    if (getsockname(static_cast<SOCKET>(sock), reinterpret_cast<sockaddr*>(&sa), &saLength) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

void platformIgnoreConnReset(PlatformSocket sock)
{
    // Neither an ICMP "port unreachable" nor a "TTL expired" may fail a receive.
    for (DWORD code : {static_cast<DWORD>(SIO_UDP_CONNRESET), static_cast<DWORD>(SIO_UDP_NETRESET)}) {
        BOOL report = FALSE;
        DWORD returned = 0;
        WSAIoctl(static_cast<SOCKET>(sock), code, &report, sizeof report, nullptr, 0, &returned,
                 nullptr, nullptr);
    }
}

PlatformEvent* platformCreateEvent()
{
    auto* event = new (std::nothrow) PlatformEvent{nullptr};
    if (event)
        event->handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

bool platformSelectRead(PlatformSocket sock, PlatformEvent* event)
{
    if (!event)
        return false;
    return WSAEventSelect(static_cast<SOCKET>(sock), event->handle, FD_READ) == 0;
}

int platformWaitEvent(PlatformEvent* event, int timeoutMs)
{
    DWORD rc = WaitForMultipleObjects(1, &event->handle, FALSE, static_cast<DWORD>(timeoutMs));
    if (rc == WAIT_OBJECT_0)
        return 1;
    if (rc == WAIT_TIMEOUT)
        return 0;
    return -1;
}

std::uint32_t platformParseIPv4(const char* text)
{
    return inet_addr(text);
}

bool platformFormatIPv4(std::uint32_t ip, char* buffer, std::size_t size)
{
    in_addr address{};
    address.s_addr = ip;
    const char* text = inet_ntoa(address);
    if (!text || std::strlen(text) >= size)
        return false;
    std::strcpy(buffer, text);
    return true;
}

bool platformStartThread(void (*entry)(void*), void* argument)
{
    auto* start = new (std::nothrow) ThreadStart{entry, argument};
    if (!start)
        return false;
    HANDLE thread = CreateThread(nullptr, 0, threadTrampoline, start, 0, nullptr);
    if (!thread) {
        delete start;
        return false;
    }
    return true;
}

void platformSleepForever()
{
    for (;;)
        Sleep(INFINITE);
}

void platformSleepMs(int milliseconds)
{
    Sleep(static_cast<DWORD>(milliseconds));
}

void platformExit(int status)
{
    std::fflush(stdout);
    ExitProcess(static_cast<UINT>(status));
}

void platformLocalTime(PlatformTime* now)
{
    SYSTEMTIME local;
    GetLocalTime(&local);
    now->day = local.wDay;
    now->hour = local.wHour;
    now->minute = local.wMinute;
    now->second = local.wSecond;
}

std::uint64_t platformMonotonicMs()
{
    return GetTickCount64();
}

int platformPendingError()
{
    int code = WSAGetLastError();
    if (code == 0)
        code = static_cast<int>(GetLastError());
    return code;
}

void platformSetPendingError(int code)
{
    WSASetLastError(code);
    SetLastError(static_cast<DWORD>(code));
}

int platformSystemText(int code, char* buffer, std::size_t size)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                  nullptr, static_cast<DWORD>(code), 0,
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr);
    int result = -1;
    if (length > 0 && text) {
        std::snprintf(buffer, size, "%s", text);
        result = static_cast<int>(length);
    }
    if (text)
        LocalFree(text);
    return result;
}

bool platformLinkTarget(const char* path, char* target, std::size_t size)
{
    // Links are rare on Windows and need rights to make: the name is taken
    // as it is, and a link there is replaced by the package.
    const std::size_t length = std::strlen(path);
    if (length >= size)
        return false;
    std::memcpy(target, path, length + 1);
    return true;
}

std::FILE* platformOpenRegularFile(const char* path)
{
    // By its wide name: the ANSI call would open a best-fit lookalike.
    const std::wstring name = wideName(path);
    std::FILE* file = name.empty() ? nullptr : _wfopen(name.c_str(), L"rb");
    struct _stat64 status {};
    if (file != nullptr &&
        (_fstat64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

bool platformReadableByOthers(std::FILE*)
{
    return false;
}

namespace {
// Drops every datagram queued now, empty ones included (FIONREAD counts an
// empty datagram as 0 bytes, so only a receive can tell it is there).
int dropQueued(SOCKET s)
{
    char scrap[2048];
    int dropped = 0;
    for (;;) {
        sockaddr_in sa{};
        int saLength = sizeof sa;
        // An over-long datagram fails with WSAEMSGSIZE but leaves the queue.
        if (recvfrom(s, scrap, sizeof scrap, 0, reinterpret_cast<sockaddr*>(&sa), &saLength) ==
                SOCKET_ERROR &&
            WSAGetLastError() != WSAEMSGSIZE)
            return dropped;  // WSAEWOULDBLOCK: nothing left
        ++dropped;
    }
}
}  // namespace

int platformDrainSocket(PlatformSocket sock, PlatformEvent* event)
{
    const SOCKET s = static_cast<SOCKET>(sock);
    // A socket under WSAEventSelect is non-blocking already and cannot be
    // set back; any other is put back to blocking afterwards.
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    int dropped = dropQueued(s);
    if (event == nullptr) {
        nonBlocking = 0;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        return dropped;
    }
    // Each receive re-arms FD_READ while data is left, so the event may be set
    // for datagrams already taken: reset it with the queue empty, then look
    // once more for one that came in between (its FD_READ may be the one reset).
    for (int round = 0; round < 64; ++round) {
        ResetEvent(event->handle);
        const int more = dropQueued(s);
        if (more == 0)
            return dropped;
        dropped += more;
    }
    SetEvent(event->handle);  // still arriving: let the next wait see them
    return dropped;
}

std::FILE* platformCreateNewFile(const char* path)
{
    const std::wstring name = wideName(path);
    int fd = name.empty() ? -1 : _wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) {
        _close(fd);
        _wunlink(name.c_str());
    }
    return file;
}

bool platformFileWritable(const char* path)
{
    const std::wstring name = wideName(path);
    DWORD attributes = GetFileAttributesW(name.c_str());
    if (name.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return false;
    // The access rights say the rest: open for writing without changing it.
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

int platformPoll(const PlatformSocket* socks, int count, unsigned char* ready, int timeoutMs)
{
    if (count == 0) {  // WSAPoll refuses an empty set
        Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return 0;
    }
    std::vector<WSAPOLLFD> fds(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        fds[static_cast<std::size_t>(i)] = WSAPOLLFD{static_cast<SOCKET>(socks[i]), POLLRDNORM, 0};
    int got = WSAPoll(fds.data(), static_cast<ULONG>(count), timeoutMs < 0 ? -1 : timeoutMs);
    if (got == SOCKET_ERROR)
        return -1;
    for (int i = 0; i < count; ++i)
        ready[i] = fds[static_cast<std::size_t>(i)].revents != 0 ? 1 : 0;
    return got;
}

bool platformRaiseOpenFileLimit(int)
{
    return true;
}

// --- The operator's interrupt, the terminal ---

namespace {
volatile LONG interruptSeen = 0;
HANDLE interruptDone = nullptr;
// The system ends the process a few seconds after a close event's handler
// returns, so the handler holds it until the record is closed.
constexpr DWORD CLOSE_GRACE_MS = 4500;

BOOL WINAPI noteInterrupt(DWORD event)
{
    InterlockedExchange(&interruptSeen, 1);
    if ((event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT ||
         event == CTRL_SHUTDOWN_EVENT) && interruptDone)
        WaitForSingleObject(interruptDone, CLOSE_GRACE_MS);
    return TRUE;
}
}  // namespace

void platformCatchInterrupt()
{
    if (!interruptDone)
        interruptDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(noteInterrupt, TRUE);
}

void platformInterruptHandled()
{
    if (interruptDone)
        SetEvent(interruptDone);
}

bool platformInterrupted()
{
    return InterlockedCompareExchange(&interruptSeen, 0, 0) != 0;
}

bool platformStdoutIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}
