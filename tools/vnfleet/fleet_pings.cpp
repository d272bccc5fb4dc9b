#include "fleet_pings.h"

#include "link/echo_packets.h"
#include "platform/platform.h"

namespace {
// What a request carries: enough for anyone tracing the network to see whose.
constexpr std::uint8_t PAYLOAD[16] = {'V', 'N', 'f', 'l', 'e', 'e', 't', ' ',
                                      'i', 's', ' ', 'b', 'a', 'c', 'k', '?'};
constexpr std::uint32_t SEQUENCES = 65536;

void schedule(PingBook* book, const PingWait& wait)
{
    book->due.emplace(wait.nextMs < wait.deadlineMs ? wait.nextMs : wait.deadlineMs, wait.ip);
}

void unschedule(PingBook* book, const PingWait& wait)
{
    std::uint64_t at = wait.nextMs < wait.deadlineMs ? wait.nextMs : wait.deadlineMs;
    auto [first, last] = book->due.equal_range(at);
    for (auto it = first; it != last; ++it)
        if (it->second == wait.ip) {
            book->due.erase(it);
            return;
        }
}

bool wasSent(const PingWait& wait, std::uint16_t sequence)
{
    if (wait.sent >= SEQUENCES - 1)
        return true;  // every sequence has gone out by now
    return sequence >= 1 && sequence <= wait.sent;
}
}  // namespace

void startWaiting(PingBook* book, std::size_t device, std::uint32_t ip, std::uint64_t nowMs,
                  std::uint64_t waitMs)
{
    PingWait wait{device, ip, nowMs, nowMs + waitMs, nowMs, 0};
    book->waiting[ip] = wait;
    schedule(book, wait);
}

int buildPingRequest(const PingBook& book, PingWait* wait, std::uint8_t* out, int size)
{
    ++wait->sent;
    EchoFields fields{ICMP_ECHO_REQUEST, book.identifier,
                      static_cast<std::uint16_t>(wait->sent % SEQUENCES)};
    return buildEcho(fields, PAYLOAD, static_cast<int>(sizeof PAYLOAD), out, size);
}

void sendDuePings(PingBook* book, PlatformPinger* pinger, std::uint64_t nowMs, int intervalMs,
                  std::vector<PingWait>* expired)
{
    std::uint8_t request[64];
    while (!book->due.empty() && book->due.begin()->first <= nowMs) {
        std::uint32_t ip = book->due.begin()->second;
        book->due.erase(book->due.begin());
        auto found = book->waiting.find(ip);
        if (found == book->waiting.end())
            continue;
        PingWait& wait = found->second;
        if (nowMs >= wait.deadlineMs) {
            expired->push_back(wait);
            book->waiting.erase(found);
            continue;
        }
        // A request that does not go out is a lost one: the next follows.
        int length = buildPingRequest(*book, &wait, request, static_cast<int>(sizeof request));
        platformPingerSend(pinger, ip, request, length);
        wait.nextMs += static_cast<std::uint64_t>(intervalMs);
        if (wait.nextMs <= nowMs)
            wait.nextMs = nowMs + static_cast<std::uint64_t>(intervalMs);
        schedule(book, wait);
    }
}

int msUntilNextPing(const PingBook& book, std::uint64_t nowMs, int limit)
{
    if (book.due.empty())
        return limit;
    std::uint64_t at = book.due.begin()->first;
    if (at <= nowMs)
        return 0;
    return at - nowMs < static_cast<std::uint64_t>(limit) ? static_cast<int>(at - nowMs) : limit;
}

bool takeEchoReply(PingBook* book, std::uint32_t from, const std::uint8_t* message, int length,
                   PingWait* back)
{
    EchoFields fields{};
    if (!readEcho(message, length, &fields) || fields.type != ICMP_ECHO_REPLY ||
        fields.identifier != book->identifier)
        return false;
    auto found = book->waiting.find(from);
    if (found == book->waiting.end() || !wasSent(found->second, fields.sequence))
        return false;
    *back = found->second;
    unschedule(book, found->second);
    book->waiting.erase(found);
    return true;
}
