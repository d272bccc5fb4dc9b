// The one door to the operating system: sockets, threads, time, process end
// and error text. Windows Sockets on Windows, BSD sockets and POSIX threads
// elsewhere. Every other directory calls only these routines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

using PlatformSocket = std::intptr_t;
constexpr PlatformSocket PLATFORM_NO_SOCKET = -1;

// An IPv4 endpoint: address in network byte order (as inet_addr gives it),
// port in host byte order.
struct PlatformAddress {
    std::uint32_t ip;
    std::uint16_t port;
};

constexpr std::uint32_t PLATFORM_ANY_ADDRESS = 0;           // INADDR_ANY
constexpr std::uint32_t PLATFORM_BAD_ADDRESS = 0xFFFFFFFFu;  // INADDR_NONE

struct PlatformTime {
    std::uint16_t day;  // of the month
    std::uint16_t hour;
    std::uint16_t minute;
    std::uint16_t second;
};

// Readiness event of one socket (an event object on Windows, the socket
// itself under poll elsewhere). Lives until the process ends.
struct PlatformEvent;

// Windows Sockets start-up (version word 0x0102). Always succeeds elsewhere.
bool platformNetStart();

// UDP/IPv4 datagram socket; PLATFORM_NO_SOCKET on failure.
PlatformSocket platformUdpOpen();
bool platformUdpBind(PlatformSocket sock, std::uint32_t ip, std::uint16_t port);
void platformClose(PlatformSocket sock);
// Bytes sent, or -1.
int platformSendTo(PlatformSocket sock, const void* data, int length, PlatformAddress to);
// Length of the datagram received, or -1. A datagram longer than size is a
// failed receive on every platform (its first size bytes are still stored).
int platformRecvFrom(PlatformSocket sock, void* buffer, int size, PlatformAddress* from);
// Asks for a receive buffer of this many bytes (the system may grant less),
// so that bursts of datagrams wait in it instead of being dropped.
void platformSetReceiveBuffer(PlatformSocket sock, int bytes);
// Port the socket is bound to (host order), 0 when unknown.
std::uint16_t platformLocalPort(PlatformSocket sock);

// Stop Windows from turning an ICMP "port unreachable" or "TTL expired"
// into a failed receive on a UDP socket. No-op elsewhere.
void platformIgnoreConnReset(PlatformSocket sock);

// Auto-reset event, initially not signalled.
PlatformEvent* platformCreateEvent();
// Signal the event whenever the socket has a datagram to read (FD_READ).
bool platformSelectRead(PlatformSocket sock, PlatformEvent* event);
// 1 when signalled, 0 after timeoutMs, -1 when the wait itself failed.
int platformWaitEvent(PlatformEvent* event, int timeoutMs);

// Dotted-decimal text to an address (inet_addr); PLATFORM_BAD_ADDRESS when
// the text is not one.
std::uint32_t platformParseIPv4(const char* text);
// Address to dotted-decimal text (inet_ntoa); false when it cannot.
bool platformFormatIPv4(std::uint32_t ip, char* buffer, std::size_t size);

// Start a detached thread with the default stack size.
bool platformStartThread(void (*entry)(void*), void* argument);
[[noreturn]] void platformSleepForever();
void platformSleepMs(int milliseconds);
// Ends the whole process at once: standard output is flushed, no static
// destructors run under the other threads' feet.
[[noreturn]] void platformExit(int status);

void platformLocalTime(PlatformTime* now);
// Monotonic milliseconds, for the companion tools' own time limits.
std::uint64_t platformMonotonicMs();

// The calling thread's pending error: the socket error, else the system
// error; 0 when none. Only a failed call sets it and nothing clears it.
int platformPendingError();
void platformSetPendingError(int code);
// The system's wording of an error code, as the system gives it (ending in
// a two-character line break). Returns the full text length, or -1 when the
// system has no text; at most size - 1 characters are stored.
int platformSystemText(int code, char* buffer, std::size_t size);

// Input files.
// Opens a regular file for reading in binary mode; nullptr when it does not
// open or is a directory, device, FIFO or socket, which a loader refuses as
// a file it cannot open. Never waits for a writer on a FIFO.
std::FILE* platformOpenRegularFile(const char* path);
// True when users other than the owner may read the open file (its group or
// others read bit). Windows files carry access lists, not these bits: always
// false there.
bool platformReadableByOthers(std::FILE* file);

// --- The update transfer's drain ---
// Reads and drops every datagram already queued on the socket, without
// waiting, and leaves the socket's readiness event (may be nullptr)
// signalled only if a datagram is still queued, so the next wait cannot wake
// for one that is gone. Returns how many datagrams were dropped.
int platformDrainSocket(PlatformSocket sock, PlatformEvent* event);

// ---- Files the package writer replaces ----

// Creates path as a new, empty file open for binary writing; nullptr when
// it cannot, also when the name already exists (nothing is touched then).
std::FILE* platformCreateNewFile(const char* path);
// Where a file written under path lands: path itself, or the end of its
// chain of symbolic links (an existing file, or the name a dangling link
// names). False when the chain loops or the result does not fit in size.
// Windows: path itself.
bool platformLinkTarget(const char* path, char* target, std::size_t size);
// Whether the existing file at path may be opened for writing. A file
// without any write permission (read-only) is refused even to the
// superuser, as a user who made it read-only expects.
bool platformFileWritable(const char* path);

// ---- Many sockets on one thread (VNsim's fleet of devices, VNfleet) ----
// Waits until at least one of the count sockets has a datagram to read (or
// an error to report), at most timeoutMs (negative: no limit). Sets ready[i]
// to 1 for each such socket and 0 for the others. Returns how many are
// ready; 0 after the time-out or when a caught signal (platformCatchInterrupt)
// cut the wait short; -1 when the wait itself failed. With no sockets it
// only waits.
int platformPoll(const PlatformSocket* socks, int count, unsigned char* ready, int timeoutMs);
// Lets the process hold at least `count` open files and sockets, raising
// its limit as far as the system allows; false when it stays below count.
// Windows has no such per-process limit: always true there.
bool platformRaiseOpenFileLimit(int count);

// --- The operator's interrupt, the terminal ---

// From now on Ctrl-C, SIGHUP and SIGTERM (on Windows Ctrl-C, Ctrl-Break, the
// console's close, log-off and shut-down) only set a mark
// that platformInterrupted reports. A wait in platformPoll ends early on
// POSIX; on Windows the mark is set from another thread and the wait runs
// its course, so keep waits short.
void platformCatchInterrupt();
bool platformInterrupted();
// The interrupt's work is done (the record closed): a console window's
// close, a log-off or a shut-down on Windows waits for this before the
// system ends the process.
void platformInterruptHandled();

// Whether standard output is a terminal (a console on Windows).
bool platformStdoutIsTerminal();

// --- ICMP echo ---

// One ICMP echo channel for the whole process (VNfleet's --await-ping):
// on Linux an unprivileged ICMP datagram socket (net.ipv4.ping_group_range),
// else a raw ICMP socket (root or CAP_NET_RAW); on Windows an ICMP handle
// (IcmpCreateFile, no administrator rights needed).
struct PlatformPinger;
// nullptr when neither opens; why then holds what the operator must arrange.
PlatformPinger* platformPingerOpen(char* why, std::size_t size);
// The identifier that replies to this channel's requests carry.
std::uint16_t platformPingerIdentifier(const PlatformPinger* pinger);
// Sends an echo request message (ICMP header and payload, built with this
// channel's identifier) to ip; false when it did not go out.
bool platformPingerSend(PlatformPinger* pinger, std::uint32_t ip, const void* message, int length);
// The socket to wait on with platformPoll; PLATFORM_NO_SOCKET when replies
// are collected by receiving alone (Windows): then call it often.
PlatformSocket platformPingerSocket(const PlatformPinger* pinger);
// One ICMP message received (its IPv4 header taken off) and its sender; its
// length, or -1 when none is waiting.
int platformPingerReceive(PlatformPinger* pinger, void* buffer, int size, std::uint32_t* from);
// Closes the channel before the process ends; requests still out are given
// up.
void platformPingerClose(PlatformPinger* pinger);

// A raw ICMP socket that receives whole IPv4 packets (header first) and
// sends whole packets built by the caller, any source address (VNsim answers
// pings for its emulated devices); it never blocks a receive. PLATFORM_NO_SOCKET when it cannot be
// opened (root or CAP_NET_RAW is needed; never on Windows). Use it with
// platformRecvFrom and platformSendTo (the port is ignored).
PlatformSocket platformRawIcmpOpen();
