#include "sim_echo.h"

#include <cstdio>
#include <cstring>

#include "companion_cli.h"
#include "link/echo_packets.h"
#include "sim_options.h"

namespace {
std::uint8_t packet[IPV4_HEADER_SIZE + sizeof(EchoRequest::message)];

double drawOnce(std::uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
}
}  // namespace

bool rebootsAsked()
{
    return simOptions.rebootMs > 0 || simOptions.neverBack > 0 || simOptions.neverBackCount > 0;
}

PlatformSocket openEchoSocket()
{
    PlatformSocket sock = platformRawIcmpOpen();
    if (sock == PLATFORM_NO_SOCKET && rebootsAsked()) {
        char text[256];
        if (platformSystemText(platformPendingError(), text, sizeof text) < 0)
            std::snprintf(text, sizeof text, "error %d\n", platformPendingError());
        companionError("VNsim: cannot answer pings (--reboot-ms, --never-back): no raw ICMP "
                       "socket (root or CAP_NET_RAW needed): %s",
                       text);
    }
    if (sock == PLATFORM_NO_SOCKET)
        return sock;
    platformSetReceiveBuffer(sock, 1 << 20);
    return sock;
}

bool receiveEchoRequest(PlatformSocket sock, EchoRequest* request)
{
    PlatformAddress sender{};
    int length = platformRecvFrom(sock, packet, static_cast<int>(sizeof packet), &sender);
    Ipv4Icmp ip{};
    EchoFields fields{};
    if (length < 0 || !readIpv4Icmp(packet, length, &ip) ||
        !readEcho(packet + ip.icmpOffset, length - ip.icmpOffset, &fields) ||
        fields.type != ICMP_ECHO_REQUEST)
        return false;
    request->from = ip.source;
    request->to = ip.destination;
    request->length = length - ip.icmpOffset;
    std::memcpy(request->message, packet + ip.icmpOffset, static_cast<std::size_t>(request->length));
    return true;
}

void answerEchoRequest(PlatformSocket sock, const EchoRequest& request)
{
    EchoFields fields{};
    readEcho(request.message, request.length, &fields);
    fields.type = ICMP_ECHO_REPLY;
    int length = buildEcho(fields, request.message + ECHO_HEADER_SIZE,
                           request.length - ECHO_HEADER_SIZE, packet + IPV4_HEADER_SIZE,
                           static_cast<int>(sizeof packet) - IPV4_HEADER_SIZE);
    buildIpv4Icmp(request.to, request.from, length, packet);
    if (platformSendTo(sock, packet, IPV4_HEADER_SIZE + length, PlatformAddress{request.from, 0}) < 0)
        companionError("VNsim: echo reply not sent\n");
}

bool drawnNeverBack(std::uint32_t hostIp)
{
    for (int i = 0; i < simOptions.neverBackCount; ++i)
        if (simOptions.neverBackAt[i] == hostIp)
            return true;
    // A draw of its own, so that the losses stay those of the seed.
    std::uint64_t z = (simOptions.seed * 0x100000001B3u + hostIp) ^ 0x6E657665722D6261u;
    return simOptions.neverBack > 0 && drawOnce(z + 0x9E3779B97F4A7C15u) < simOptions.neverBack;
}

void startReboot(SimPower* power, std::uint64_t nowMs)
{
    power->dead = power->dead || power->neverBack;
    power->silentUntilMs = nowMs + static_cast<std::uint64_t>(simOptions.rebootMs);
}

std::uint32_t hostOrderOf(std::uint32_t ip)
{
    std::uint8_t octets[4];
    std::memcpy(octets, &ip, sizeof octets);
    return (std::uint32_t{octets[0]} << 24) | (std::uint32_t{octets[1]} << 16) |
           (std::uint32_t{octets[2]} << 8) | octets[3];
}

bool silent(const SimPower& power, std::uint64_t nowMs)
{
    return power.dead || nowMs < power.silentUntilMs;
}
