// ICMP echo on Linux: an ICMP datagram socket where ping_group_range lets
// this user have one, else a raw socket; VNsim's raw socket.
#include "platform/platform.h"

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

struct PlatformPinger {
    int fd;
    bool raw;  // replies come with their IPv4 header
    std::uint16_t identifier;
};

namespace {
constexpr int PING_RECEIVE_BUFFER = 1 << 20;  // a fleet's replies arrive in bursts

int openDatagram(std::uint16_t* identifier)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return -1;
    // The kernel gives the socket its identifier when it is bound.
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    socklen_t length = sizeof sa;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    *identifier = ntohs(sa.sin_port);
    return fd;
}
}  // namespace

PlatformPinger* platformPingerOpen(char* why, std::size_t size)
{
    std::uint16_t identifier = 0;
    int fd = openDatagram(&identifier);
    int datagramError = errno;
    bool raw = false;
    if (fd < 0) {
        fd = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        raw = fd >= 0;
        identifier = static_cast<std::uint16_t>(getpid());
    }
    if (fd < 0) {
        int rawError = errno;
        unsigned group = static_cast<unsigned>(getgid());
        std::snprintf(why, size,
                      "no ICMP datagram socket (%s): allow group %u in net.ipv4.ping_group_range "
                      "(sysctl -w net.ipv4.ping_group_range=\"%u %u\"); and no raw ICMP socket "
                      "(%s): run as root or give the program CAP_NET_RAW (setcap cap_net_raw+ep)",
                      std::strerror(datagramError), group, group, group, std::strerror(rawError));
        return nullptr;
    }
    if (raw) {
        // Only echo replies: not every other ICMP message the host receives.
        icmp_filter filter{~(1u << ICMP_ECHOREPLY)};
        setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    int buffer = PING_RECEIVE_BUFFER;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    return new PlatformPinger{fd, raw, identifier};
}

std::uint16_t platformPingerIdentifier(const PlatformPinger* pinger)
{
    return pinger->identifier;
}

bool platformPingerSend(PlatformPinger* pinger, std::uint32_t ip, const void* message, int length)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = ip;
    ssize_t sent = sendto(pinger->fd, message, static_cast<std::size_t>(length), 0,
                          reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (sent < 0)
        platformSetPendingError(errno);
    return sent == length;
}

PlatformSocket platformPingerSocket(const PlatformPinger* pinger)
{
    return pinger->fd;
}

int platformPingerReceive(PlatformPinger* pinger, void* buffer, int size, std::uint32_t* from)
{
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    sockaddr_in sa{};
    socklen_t saLength = sizeof sa;
    ssize_t got = recvfrom(pinger->fd, buffer, static_cast<std::size_t>(size), MSG_TRUNC,
                           reinterpret_cast<sockaddr*>(&sa), &saLength);
    if (got < 0 || got > size)
        return -1;
    *from = sa.sin_addr.s_addr;
    int length = static_cast<int>(got);
    if (!pinger->raw)
        return length;
    int header = length > 0 ? (bytes[0] & 0x0F) * 4 : 0;
    if (header < 20 || header > length)
        return -1;
    std::memmove(bytes, bytes + header, static_cast<std::size_t>(length - header));
    return length - header;
}

void platformPingerClose(PlatformPinger* pinger)
{
    close(pinger->fd);
    delete pinger;
}

PlatformSocket platformRawIcmpOpen()
{
    int fd = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        platformSetPendingError(errno);
        return PLATFORM_NO_SOCKET;
    }
    int on = 1;
    if (setsockopt(fd, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) != 0) {
        platformSetPendingError(errno);
        close(fd);
        return PLATFORM_NO_SOCKET;
    }
    return fd;
}
