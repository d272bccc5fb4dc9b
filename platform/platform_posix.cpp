// POSIX backend: BSD sockets, poll, POSIX threads, localtime_r, strerror_r,
// open and access.
#include "platform/platform.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

namespace {
// Like the Windows per-thread error: set by failed calls only, never cleared.
thread_local int pendingError = 0;

void noteFailure(int code)
{
    pendingError = code;
}

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

void* threadTrampoline(void* raw)
{
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.entry(start.argument);
    return nullptr;
}
}  // namespace

struct PlatformEvent {
    int fd;
};

bool platformNetStart()
{
    return true;
}

PlatformSocket platformUdpOpen()
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        noteFailure(errno);
        return PLATFORM_NO_SOCKET;
    }
    return fd;
}

bool platformUdpBind(PlatformSocket sock, std::uint32_t ip, std::uint16_t port)
{
    sockaddr_in sa = toSockaddr(ip, port);
    if (bind(static_cast<int>(sock), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        noteFailure(errno);
        return false;
    }
    return true;
}

void platformClose(PlatformSocket sock)
{
    if (close(static_cast<int>(sock)) != 0)
        noteFailure(errno);
}

int platformSendTo(PlatformSocket sock, const void* data, int length, PlatformAddress to)
{
    sockaddr_in sa = toSockaddr(to.ip, to.port);
    ssize_t sent = sendto(static_cast<int>(sock), data, static_cast<size_t>(length), 0,
                          reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (sent < 0) {
        noteFailure(errno);
        return -1;
    }
    return static_cast<int>(sent);
}

int platformRecvFrom(PlatformSocket sock, void* buffer, int size, PlatformAddress* from)
{
    sockaddr_in sa{};
    socklen_t saLength = sizeof sa;
    ssize_t got;
    do {
        // MSG_TRUNC reports the datagram's real length, so an over-long one
        // fails as it does under Windows Sockets.
        got = recvfrom(static_cast<int>(sock), buffer, static_cast<size_t>(size), MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&sa), &saLength);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        noteFailure(errno);
        return -1;
    }
    if (from) {
        from->ip = sa.sin_addr.s_addr;
        from->port = ntohs(sa.sin_port);
    }
    if (got > size) {
        noteFailure(EMSGSIZE);
        return -1;
    }
    return static_cast<int>(got);
}

void platformSetReceiveBuffer(PlatformSocket sock, int bytes)
{
    // Best effort: the kernel caps the size, and a refusal is no failure.
    setsockopt(static_cast<int>(sock), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

std::uint16_t platformLocalPort(PlatformSocket sock)
{
    sockaddr_in sa{};
    socklen_t saLength = sizeof sa;
    if (getsockname(static_cast<int>(sock), reinterpret_cast<sockaddr*>(&sa), &saLength) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

void platformIgnoreConnReset(PlatformSocket)
{
    // An unconnected UDP socket never reports ICMP errors here.
}

PlatformEvent* platformCreateEvent()
{
    return new (std::nothrow) PlatformEvent{-1};
}

bool platformSelectRead(PlatformSocket sock, PlatformEvent* event)
{
    if (!event) {
        noteFailure(EINVAL);
        return false;
    }
    event->fd = static_cast<int>(sock);
    return true;
}

int platformWaitEvent(PlatformEvent* event, int timeoutMs)
{
    if (!event || event->fd < 0) {
        noteFailure(EINVAL);
        return -1;
    }
    pollfd pfd{event->fd, POLLIN, 0};
    for (;;) {
        int ready = poll(&pfd, 1, timeoutMs);
        if (ready > 0)
            return 1;
        if (ready == 0)
            return 0;
        if (errno != EINTR) {
            noteFailure(errno);
            return -1;
        }
    }
}

std::uint32_t platformParseIPv4(const char* text)
{
    return inet_addr(text);
}

bool platformFormatIPv4(std::uint32_t ip, char* buffer, std::size_t size)
{
    in_addr address{};
    address.s_addr = ip;
    return inet_ntop(AF_INET, &address, buffer, static_cast<socklen_t>(size)) != nullptr;
}

bool platformStartThread(void (*entry)(void*), void* argument)
{
    auto* start = new (std::nothrow) ThreadStart{entry, argument};
    if (!start) {
        noteFailure(ENOMEM);
        return false;
    }
    pthread_t thread;
    int rc = pthread_create(&thread, nullptr, threadTrampoline, start);
    if (rc != 0) {
        delete start;
        noteFailure(rc);
        return false;
    }
    pthread_detach(thread);
    return true;
}

void platformSleepForever()
{
    for (;;)
        pause();
}

void platformSleepMs(int milliseconds)
{
    timespec ts{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void platformExit(int status)
{
    std::fflush(stdout);
    _exit(status);
}

void platformLocalTime(PlatformTime* now)
{
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    now->day = static_cast<std::uint16_t>(local.tm_mday);
    now->hour = static_cast<std::uint16_t>(local.tm_hour);
    now->minute = static_cast<std::uint16_t>(local.tm_min);
    now->second = static_cast<std::uint16_t>(local.tm_sec);
}

std::uint64_t platformMonotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

int platformPendingError()
{
    return pendingError;
}

void platformSetPendingError(int code)
{
    pendingError = code;
}

int platformSystemText(int code, char* buffer, std::size_t size)
{
    char text[512];
    // The GNU strerror_r may return a static text instead of filling ours.
    const char* words = strerror_r(code, text, sizeof text);
    if (!words || !*words)
        return -1;
    // Worded as Windows words its messages: ending in a CR LF line break.
    int length = std::snprintf(buffer, size, "%s\r\n", words);
    return length < 0 ? -1 : length;
}

std::FILE* platformOpenRegularFile(const char* path)
{
    // Opening a FIFO waits for a writer and a device may act on its open:
    // look first, open without waiting, then judge what was opened, which
    // may have been swapped in between.
    struct stat status {};
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode))
        return nullptr;
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const int flags = fcntl(fd, F_GETFL);
    std::FILE* file = nullptr;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && flags >= 0 &&
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
        file = fdopen(fd, "rb");
    if (file == nullptr)
        close(fd);
    return file;
}

bool platformReadableByOthers(std::FILE* file)
{
    struct stat status {};
    return fstat(fileno(file), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

int platformDrainSocket(PlatformSocket sock, PlatformEvent*)
{
    // poll looks at the socket itself: there is no event state to reset.
    std::uint8_t scrap[2048];
    int dropped = 0;
    for (;;) {
        ssize_t got = recv(static_cast<int>(sock), scrap, sizeof scrap, MSG_DONTWAIT | MSG_TRUNC);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return dropped;  // EAGAIN: the queue is empty
        ++dropped;
    }
}

std::FILE* platformCreateNewFile(const char* path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        noteFailure(errno);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        noteFailure(errno);
        close(fd);
        unlink(path);
    }
    return file;
}

bool platformLinkTarget(const char* path, char* target, std::size_t size)
{
    std::string at = path;
    // As many links as the system itself follows before it gives up.
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat info {};
        if (lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            if (at.size() >= size)
                return false;
            std::memcpy(target, at.c_str(), at.size() + 1);
            return true;
        }
        std::vector<char> link(static_cast<std::size_t>(info.st_size) + 1);
        const ssize_t got = readlink(at.c_str(), link.data(), link.size());
        if (got < 0 || static_cast<std::size_t>(got) >= link.size())
            return false;
        std::string next(link.data(), static_cast<std::size_t>(got));
        // A relative target is taken from the link's own folder.
        const std::size_t slash = at.rfind('/');
        if ((next.empty() || next[0] != '/') && slash != std::string::npos)
            next = at.substr(0, slash + 1) + next;
        at = next;
    }
    noteFailure(ELOOP);
    return false;
}

bool platformFileWritable(const char* path)
{
    struct stat info {};
    if (stat(path, &info) != 0 || access(path, W_OK) != 0) {
        noteFailure(errno);
        return false;
    }
    // access() grants root everything; the write bits say what was meant.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        noteFailure(EACCES);
        return false;
    }
    return true;
}

int platformPoll(const PlatformSocket* socks, int count, unsigned char* ready, int timeoutMs)
{
    std::vector<pollfd> fds(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        fds[static_cast<std::size_t>(i)] = pollfd{static_cast<int>(socks[i]), POLLIN, 0};
    int got = poll(fds.data(), static_cast<nfds_t>(count), timeoutMs);
    if (got < 0 && errno == EINTR)
        return 0;  // a caught signal: the caller looks at what it marked
    if (got < 0) {
        noteFailure(errno);
        return -1;
    }
    for (int i = 0; i < count; ++i)
        ready[i] = fds[static_cast<std::size_t>(i)].revents != 0 ? 1 : 0;
    return got;
}

bool platformRaiseOpenFileLimit(int count)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        noteFailure(errno);
        return false;
    }
    rlim_t wanted = static_cast<rlim_t>(count);
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur >= wanted)
        return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted)
        limit.rlim_max = wanted;  // allowed only with the privilege to raise it
    limit.rlim_cur = wanted;
    if (setrlimit(RLIMIT_NOFILE, &limit) == 0)
        return true;
    noteFailure(errno);
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;  // as far as allowed
    setrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= wanted;
}

// --- The operator's interrupt, the terminal ---

namespace {
volatile sig_atomic_t interruptSeen = 0;

void noteInterrupt(int)
{
    interruptSeen = 1;
}
}  // namespace

void platformCatchInterrupt()
{
    struct sigaction action{};
    action.sa_handler = noteInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal or SSH session ends a run as Ctrl-C does; a closed
    // standard output only loses the lines.
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void platformInterruptHandled() {}

bool platformInterrupted()
{
    return interruptSeen != 0;
}

bool platformStdoutIsTerminal()
{
    return isatty(1) == 1;
}
