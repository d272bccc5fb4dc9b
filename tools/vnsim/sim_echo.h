// VNsim answers pings for its device addresses itself, so that a device can
// be seen rebooting: silent for --reboot-ms after it accepts a finish
// packet, and never again when it is one of --never-back's. The kernel's
// own echo must be off where this runs (net.ipv4.icmp_echo_ignore_all=1),
// or it answers for every address.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Whether the options ask for reboots or dead devices.
bool rebootsAsked();
// A raw ICMP socket; PLATFORM_NO_SOCKET when it cannot be had (no
// privilege, or Windows): then the devices answer no pings themselves, said
// on standard error when rebootsAsked(), as VNsim cannot run then.
PlatformSocket openEchoSocket();

struct EchoRequest {
    std::uint32_t from;  // the pinger (network byte order)
    std::uint32_t to;    // the address pinged
    int length;          // of the ICMP message
    std::uint8_t message[1500];
};

// Reads one packet; true when it is an echo request (for any address).
bool receiveEchoRequest(PlatformSocket sock, EchoRequest* request);
// Sends the reply from the address that was pinged.
void answerEchoRequest(PlatformSocket sock, const EchoRequest& request);

// A device's power as pings see it.
struct SimPower {
    bool neverBack;               // dead once it has accepted a finish packet
    bool dead;
    std::uint64_t silentUntilMs;  // rebooting until then
};

// Whether the device at ip (host byte order) is one of --never-back's: named
// by --never-back-at, or drawn with --never-back's fraction from the seed.
bool drawnNeverBack(std::uint32_t hostIp);
// The device has accepted a finish packet: it reboots now.
void startReboot(SimPower* power, std::uint64_t nowMs);
bool silent(const SimPower& power, std::uint64_t nowMs);

// An address in network byte order as a number in host order.
std::uint32_t hostOrderOf(std::uint32_t ip);
