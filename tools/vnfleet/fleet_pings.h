// --await-ping: devices whose finish packet was accepted, each sent an ICMP
// echo request every interval until a reply from its address answers one of
// them (it is back) or its wait runs out (it is not back). One channel for
// the whole fleet; requests are matched to devices by address and sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <vector>

struct PlatformPinger;

struct PingWait {
    std::size_t device;        // the caller's index
    std::uint32_t ip;          // network byte order
    std::uint64_t acceptedMs;  // when the finish answer was taken
    std::uint64_t deadlineMs;
    std::uint64_t nextMs;      // the next request
    std::uint32_t sent;        // requests sent: sequences 1 to sent (mod 65536)
};

struct PingBook {
    std::uint16_t identifier;  // the channel's, carried by every reply to it
    std::unordered_map<std::uint32_t, PingWait> waiting;  // by address
    std::multimap<std::uint64_t, std::uint32_t> due;      // next request or deadline
};

void startWaiting(PingBook* book, std::size_t device, std::uint32_t ip, std::uint64_t nowMs,
                  std::uint64_t waitMs);

// The next request to the device: its sequence counted as sent.
int buildPingRequest(const PingBook& book, PingWait* wait, std::uint8_t* out, int size);

// Sends the requests that are due; the waits that ran out leave the book
// into expired.
void sendDuePings(PingBook* book, PlatformPinger* pinger, std::uint64_t nowMs, int intervalMs,
                  std::vector<PingWait>* expired);

// Milliseconds until the next request or deadline (limit when none is sooner).
int msUntilNextPing(const PingBook& book, std::uint64_t nowMs, int limit);

// Whether an ICMP message from `from` is an echo reply to one of the book's
// requests: this channel's identifier, an address that waits, a sequence
// sent to it. The device then leaves the book (into back), so a duplicate
// or a later reply answers nothing.
bool takeEchoReply(PingBook* book, std::uint32_t from, const std::uint8_t* message, int length,
                   PingWait* back);
