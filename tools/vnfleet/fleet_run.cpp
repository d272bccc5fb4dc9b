#include "fleet_run.h"

#include <algorithm>
#include <memory>

#include "fleet_debug_log.h"
#include "fleet_limits.h"
#include "fleet_pings.h"
#include "fleet_progress.h"
#include "fleet_report.h"
#include "fleet_rollout.h"
#include "app/transfer_words.h"
#include "fleet_timer.h"
#include "link/ports.h"
#include "platform/ledger_files.h"
#include "platform/platform.h"

namespace {
constexpr int LONGEST_POLL_MS = 100;  // the progress line's refresh
// Where replies are collected only by looking (Windows), how often to look.
constexpr int WINDOWS_PING_POLL_MS = 10;

struct Slot {
    const DeviceEntry* device;
    std::unique_ptr<TransferSession> session;
    PlatformSocket sock;
    ReplyTimer timer;
    std::uint64_t startedMs;
    std::uint64_t sentMs;
    std::uint64_t deadlineMs;
    bool lastWasTimeout;
    bool ended;
    unsigned foreign;
};

struct Loop {
    const FleetRun* run;
    FleetTally tally;
    std::vector<std::unique_ptr<Slot>> active;
    std::uint8_t datagram[PACKET_BUFFER_SIZE];
    // --await-ping: the lines of devices waiting for their echo reply, by
    // their index in the list.
    PingBook pings;
    std::map<std::size_t, DeviceResult> held;
    std::uint64_t stopAtMs;  // --deadline; 0: none
};

const char* const NO_REPLY = "no reply";
constexpr std::uint32_t FINISH_SENDS = 3;

FleetImage& imageOf(const Loop& loop, const DeviceEntry& device)
{
    return (*loop.run->images)[static_cast<std::size_t>(device.image)];
}

void writeLine(Loop& loop, const DeviceResult& r)
{
    if (loop.run->report->file)
        appendToLedger(loop.run->report, resultJson(loop.run->plan.id, r, platformUtcTimeText()));
}

void record(Loop& loop, const DeviceResult& r)
{
    writeLine(loop, r);
    showDeviceEnd(r);
}

// The line waits for the device's echo reply; the device holds no socket.
void awaitPing(Loop& loop, const DeviceEntry& device, const DeviceResult& line)
{
    std::size_t index = static_cast<std::size_t>(&device - loop.run->devices->data());
    loop.held[index] = line;
    startWaiting(&loop.pings, index, device.ip, platformMonotonicMs(),
                 static_cast<std::uint64_t>(loop.run->options->awaitPingS) * 1000);
    ++loop.tally.awaiting;
}

// The final verdict of a device that was pinged.
void endWait(Loop& loop, const PingWait& wait, FleetResult result, const std::string& reason)
{
    auto found = loop.held.find(wait.device);
    DeviceResult line = found->second;
    loop.held.erase(found);
    line.awaited = true;
    line.result = result;
    line.reason = reason;
    line.back = reason.empty();
    if (line.back) {
        line.backMs = platformMonotonicMs() - wait.acceptedMs;
        ++loop.tally.updated;
    } else if (result == FleetResult::NOT_BACK) {
        ++loop.tally.notBack;
    } else {
        ++loop.tally.updated;
        ++loop.tally.unconfirmed;
    }
    --loop.tally.awaiting;
    record(loop, line);
}

void finish(Loop& loop, Slot& slot, FleetResult result, const std::string& reason)
{
    slot.ended = true;
    if (slot.sock != PLATFORM_NO_SOCKET)
        platformClose(slot.sock);
    const SessionCounters& counters = slot.session->counters();
    FleetImage& image = imageOf(loop, *slot.device);
    DeviceResult line{slot.device->address, slot.device->file, result, reason,
                      counters.pagesAcknowledged, counters.datagramsSent, counters.resends,
                      platformMonotonicMs() - slot.startedMs, slot.foreign,
                      identityOf(image, *slot.device)};
    if (result == FleetResult::UPDATED && loop.run->pinger) {
        awaitPing(loop, *slot.device, line);
    } else if (result == FleetResult::UPDATED) {
        record(loop, line);
        ++loop.tally.updated;
    } else {
        record(loop, line);
        loop.tally.pagesToSend -= counters.totalPages - counters.pagesAcknowledged;
        if (result == FleetResult::FAILED)
            ++loop.tally.failed;
        else
            ++loop.tally.interrupted;
    }
    --loop.tally.inFlight;
    slot.session.reset();  // it reads the image's bytes
    releaseImage(&image);
}

void finishAsSessionSays(Loop& loop, Slot& slot)
{
    const SessionOutcome& outcome = slot.session->outcome();
    if (outcome.reason == SessionReason::COMPLETED) {
        finish(loop, slot, FleetResult::UPDATED, "");
        return;
    }
    char words[256];
    transferEndText(outcome, slot.device->file.c_str(), words, sizeof words);
    std::string reason = words;
    while (!reason.empty() && reason.back() == '\n')
        reason.pop_back();
    finish(loop, slot, FleetResult::FAILED, reason);
}

// Does what the session asks until it waits for a reply or is done.
void drive(Loop& loop, Slot& slot)
{
    TransferSession& session = *slot.session;
    for (;;) {
        switch (session.action()) {
        case SessionAction::SEND: {
            const bool finishing = session.finishSent();
            if (finishing && session.counters().sendsOfPacket >= FINISH_SENDS) {
                finish(loop, slot, FleetResult::FAILED, "no answer to the finish packet");
                return;
            }
            if (!finishing && session.counters().sendsOfPacket >=
                                  static_cast<std::uint32_t>(loop.run->options->tries)) {
                finish(loop, slot, FleetResult::FAILED, slot.lastWasTimeout ? NO_REPLY : "no usable reply");
                return;
            }
            bool sent = platformSendTo(slot.sock, session.datagram(), session.datagramLength(),
                                       PlatformAddress{slot.device->ip, UPDATE_PORT}) >= 0;
            slot.sentMs = platformMonotonicMs();
            // A device may write its image again on a second finish packet:
            // it goes again only after VNloader's whole wait.
            slot.deadlineMs = slot.sentMs + static_cast<std::uint64_t>(
                                                finishing ? FLEET_REPLY_WAIT_LIMIT_MS
                                                          : replyWaitMs(slot.timer));
            session.sendResult(sent);
            break;
        }
        case SessionAction::DRAIN:
            // Answers to packets already acknowledged go before the finish packet.
            platformDrainSocket(slot.sock, nullptr);
            session.drained();
            break;
        case SessionAction::WAIT:
        case SessionAction::WAIT_ON:
            return;
        case SessionAction::DONE:
            finishAsSessionSays(loop, slot);
            return;
        }
    }
}

void takeReply(Loop& loop, Slot& slot)
{
    PlatformAddress from{};
    int length = platformRecvFrom(slot.sock, loop.datagram, PACKET_BUFFER_SIZE, &from);
    if (length < 0)
        return;  // no datagram after all, or one too long for any reply
    // Only the device's update service answers for it: a datagram from
    // another host or another port is dropped and the wait goes on.
    if (from.ip != slot.device->ip || from.port != UPDATE_PORT) {
        ++slot.foreign;
        return;
    }
    TransferSession& session = *slot.session;
    // Only a reply's length can answer the finish packet; anything else
    // would send it again at once.
    if (session.finishSent() && length != REPLY_LENGTH)
        return;
    const std::uint32_t sendsBefore = session.counters().sendsOfPacket;
    const std::uint32_t pagesBefore = session.counters().pagesAcknowledged;
    session.reply(loop.datagram, length);
    if (session.action() == SessionAction::WAIT_ON)
        return;
    slot.lastWasTimeout = false;
    bool answered = session.counters().sendsOfPacket == 0 ||
                    session.outcome().reason == SessionReason::COMPLETED;
    // Karn's rule: only a packet sent once times the round trip.
    if (answered && sendsBefore == 1)
        sampleRoundTrip(&slot.timer, static_cast<int>(platformMonotonicMs() - slot.sentMs));
    loop.tally.pagesDone += session.counters().pagesAcknowledged - pagesBefore;
    drive(loop, slot);
}

void timeOut(Loop& loop, Slot& slot)
{
    noteTimeout(&slot.timer);
    slot.lastWasTimeout = true;
    slot.session->noReply();
    drive(loop, slot);
}

void failBeforeSending(Loop& loop, const DeviceEntry& device, const std::string& why)
{
    FleetImage& image = imageOf(loop, device);
    record(loop, DeviceResult{device.address, device.file, FleetResult::FAILED, why, 0, 0, 0, 0, 0,
                              identityOf(image, device)});
    releaseImage(&image);
    ++loop.tally.failed;
    loop.tally.pagesToSend -= static_cast<unsigned>(image.endPage - image.firstPage);
}

// False when no socket is left for now: the device waits for one.
bool startDevice(Loop& loop, const DeviceEntry& device)
{
    PlatformSocket sock = platformUdpOpen();
    if (sock == PLATFORM_NO_SOCKET && !loop.active.empty() &&
        platformOutOfDescriptors(platformPendingError()))
        return false;
    FleetImage& image = imageOf(loop, device);
    std::string why;
    if (!acquireImage(&image, &why)) {
        if (sock != PLATFORM_NO_SOCKET)
            platformClose(sock);
        failBeforeSending(loop, device, why);
        return true;
    }
    auto slot = std::make_unique<Slot>();
    slot->device = &device;
    slot->sock = sock;
    slot->session = std::make_unique<TransferSession>(fleetSetup(image, device), nullptr, nullptr);
    slot->startedMs = platformMonotonicMs();
    startTimer(&slot->timer, loop.run->options->minWaitMs);
    ++loop.tally.inFlight;
    if (slot->sock == PLATFORM_NO_SOCKET ||
        !platformUdpBind(slot->sock, PLATFORM_ANY_ADDRESS, 0)) {
        finish(loop, *slot, FleetResult::FAILED, "no socket");
        return true;
    }
    platformIgnoreConnReset(slot->sock);
    drive(loop, *slot);
    if (!slot->ended)
        loop.active.push_back(std::move(slot));
    return true;
}

void skipDevice(Loop& loop, const DeviceEntry& device)
{
    const FleetImage& image = imageOf(loop, device);
    DeviceResult r{device.address, device.file, FleetResult::SKIPPED, SKIPPED_AS_UPDATED, 0, 0,
                   0, 0, 0, identityOf(image, device)};
    // In the run's own record too: a summary judges each run by its lines.
    record(loop, r);
    ++loop.tally.skipped;
    loop.tally.pagesToSend -= static_cast<unsigned>(image.endPage - image.firstPage);
}

void dropEnded(Loop& loop)
{
    for (std::size_t i = 0; i < loop.active.size();) {
        if (loop.active[i]->ended) {
            loop.active[i] = std::move(loop.active.back());
            loop.active.pop_back();
        } else {
            ++i;
        }
    }
}

// The deadline ends a run as Ctrl-C does.
bool mustStop(const Loop& loop)
{
    return platformInterrupted() || (loop.stopAtMs != 0 && platformMonotonicMs() >= loop.stopAtMs);
}

// Devices in flight that are still sending pages: -j counts only these.
std::size_t transfersOf(const Loop& loop)
{
    std::size_t transfers = 0;
    for (const auto& slot : loop.active)
        if (!slot->ended && !slot->session->finishSent())
            ++transfers;
    return transfers;
}

// Echo replies waiting on the channel, each matched to its device.
void takeEchoReplies(Loop& loop)
{
    PlatformPinger* pinger = loop.run->pinger;
    std::uint32_t from = 0;
    int length = 0;
    PingWait back{};
    // A bounded batch: the transfers are served between batches.
    for (int i = 0; i < 1024 && (length = platformPingerReceive(pinger, loop.datagram,
                                                                 PACKET_BUFFER_SIZE, &from)) >= 0;
         ++i)
        if (takeEchoReply(&loop.pings, from, loop.datagram, length, &back))
            endWait(loop, back, FleetResult::UPDATED, "");
}

void sendPings(Loop& loop, std::uint64_t now)
{
    std::vector<PingWait> expired;
    sendDuePings(&loop.pings, loop.run->pinger, now, loop.run->options->pingIntervalMs, &expired);
    for (const PingWait& wait : expired)
        endWait(loop, wait, FleetResult::NOT_BACK, notBackReason(loop.run->options->awaitPingS));
}

// Every planned device gets its line: those never started too.
void recordNotStarted(Loop& loop, std::size_t from, const std::vector<bool>& skipped,
                      const std::string& why)
{
    const std::vector<DeviceEntry>& devices = *loop.run->devices;
    for (std::size_t i = from; i < devices.size(); ++i)
        if (!skipped[i])
            writeLine(loop, DeviceResult{devices[i].address, devices[i].file,
                                         FleetResult::NOT_STARTED, why, 0, 0, 0, 0, 0,
                                         identityOf(imageOf(loop, devices[i]), devices[i])});
}

const char* howItEnded(bool interrupted, bool waitFailed, const FleetRun& run,
                       const RolloutGuard& guard)
{
    return interrupted ? RUN_INTERRUPTED
           : waitFailed ? RUN_WAIT_FAILED
           : run.report->failed ? RUN_WRITE_ERROR
           : guard.stoppedBy ? guard.stoppedBy
                             : RUN_COMPLETED;
}

int pollWaitMs(const Loop& loop, std::uint64_t now)
{
    std::uint64_t wait = static_cast<std::uint64_t>(msUntilNextPing(
        loop.pings, now, loop.run->pinger && !loop.pings.waiting.empty() &&
                                 platformPingerSocket(loop.run->pinger) == PLATFORM_NO_SOCKET
                             ? WINDOWS_PING_POLL_MS
                             : LONGEST_POLL_MS));
    if (loop.stopAtMs != 0)
        wait = loop.stopAtMs > now ? std::min(wait, loop.stopAtMs - now) : 0;
    for (const auto& slot : loop.active)
        if (slot->deadlineMs <= now)
            return 0;
        else if (slot->deadlineMs - now < wait)
            wait = slot->deadlineMs - now;
    return static_cast<int>(wait);
}
}  // namespace

bool skippedByResume(const FleetRun& run, const DeviceEntry& device)
{
    auto found = run.earlier.find(device.address);
    return found != run.earlier.end() &&
           alreadyHolds(found->second,
                        identityOf((*run.images)[static_cast<std::size_t>(device.image)], device));
}

int runFleet(const FleetRun& run)
{
    Loop loop{&run, {}, {}, {}, {}, {}, 0};
    loop.tally.pinging = run.pinger != nullptr;
    if (run.pinger)
        loop.pings.identifier = platformPingerIdentifier(run.pinger);
    const std::vector<DeviceEntry>& devices = *run.devices;
    loop.tally.devices = static_cast<unsigned>(devices.size());
    for (const DeviceEntry& device : devices) {
        const FleetImage& image = (*run.images)[static_cast<std::size_t>(device.image)];
        loop.tally.pagesToSend += static_cast<unsigned>(image.endPage - image.firstPage);
    }
    loop.tally.startedMs = platformMonotonicMs();
    if (run.options->deadlineS > 0)
        loop.stopAtMs = loop.tally.startedMs + static_cast<std::uint64_t>(run.options->deadlineS) * 1000;
    startProgress(platformStdoutIsTerminal());
    DebugLog debug = openDebugLog(run.debugLog);
    platformCatchInterrupt();
    // Nothing is sent before the record says what this run plans.
    if (run.report->file)
        appendToLedger(run.report, runJson(run.plan));
    const std::size_t inFlight = static_cast<std::size_t>(devicesInFlightAllowed(run.options->inFlight));
    // Devices waiting for a finish answer send nothing: they keep a socket
    // but no -j slot.
    const std::size_t sockets = std::max(
        inFlight, static_cast<std::size_t>(socketsAllowed(static_cast<int>(devices.size()))));
    const PlatformSocket pingSock = run.pinger ? platformPingerSocket(run.pinger) : PLATFORM_NO_SOCKET;

    // Skipped devices go to the report before anything is sent, so a resume
    // that is itself interrupted keeps every earlier record.
    std::vector<bool> skipped(devices.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if ((skipped[i] = skippedByResume(run, devices[i])))
            skipDevice(loop, devices[i]);
        else
            ++imageOf(loop, devices[i]).waiting;
    }
    RolloutGuard guard = startRollout(*run.options, skipped);
    std::size_t next = 0;
    std::vector<PlatformSocket> socks;
    std::vector<unsigned char> ready;
    bool waitFailed = false;
    bool stopped = false;
    while (!(stopped = mustStop(loop))) {
        // A report that cannot be written records nothing more: start nothing.
        std::size_t transfers = transfersOf(loop);
        while (!run.report->failed && transfers < inFlight && loop.active.size() < sockets &&
               next < devices.size()) {
            if (skipped[next]) {
                ++next;
                continue;
            }
            std::size_t active = loop.active.size();
            if (!mayStart(&guard, *run.options, next, loop.tally,
                          active + loop.pings.waiting.size()) ||
                !startDevice(loop, devices[next]))
                break;  // again when a device in flight has ended
            if (loop.active.size() > active && !loop.active.back()->session->finishSent())
                ++transfers;
            ++next;
        }
        if (loop.active.empty() && loop.pings.waiting.empty() &&
            (next == devices.size() || run.report->failed || !guard.stopped.empty()))
            break;
        socks.clear();
        if (debug.sock != PLATFORM_NO_SOCKET)
            socks.push_back(debug.sock);
        const std::size_t first = socks.size() + (pingSock != PLATFORM_NO_SOCKET ? 1 : 0);
        if (pingSock != PLATFORM_NO_SOCKET)
            socks.push_back(pingSock);
        for (const auto& slot : loop.active)
            socks.push_back(slot->sock);
        ready.resize(socks.size());
        if (platformPoll(socks.data(), static_cast<int>(socks.size()), ready.data(),
                         pollWaitMs(loop, platformMonotonicMs())) < 0) {
            waitFailed = true;
            break;
        }
        if ((stopped = mustStop(loop)))
            break;  // not one more datagram
        if (debug.sock != PLATFORM_NO_SOCKET && ready[0])
            copyDebugLine(&debug);
        if (run.pinger && (pingSock == PLATFORM_NO_SOCKET || ready[first - 1]))
            takeEchoReplies(loop);
        std::size_t count = loop.active.size();
        for (std::size_t i = 0; i < count; ++i)
            if (ready[first + i] && !loop.active[i]->ended)
                takeReply(loop, *loop.active[i]);
        std::uint64_t now = platformMonotonicMs();
        for (std::size_t i = 0; i < count; ++i) {
            Slot& slot = *loop.active[i];
            if (slot.ended || slot.deadlineMs > now)
                continue;
            timeOut(loop, slot);
        }
        if (run.pinger)
            sendPings(loop, platformMonotonicMs());
        dropEnded(loop);
        tickLedger(run.report, platformMonotonicMs());
        refreshProgress(loop.tally, platformMonotonicMs());
    }
    bool interrupted = stopped && !waitFailed;
    const char* why = platformInterrupted() ? "stopped by the operator" : "stopped at the deadline";
    for (auto& slot : loop.active)
        if (waitFailed)
            finish(loop, *slot, FleetResult::FAILED, "waiting for replies failed");
        else
            finish(loop, *slot, FleetResult::INTERRUPTED, why);
    loop.active.clear();
    std::vector<PingWait> waits;
    for (const auto& [ip, wait] : loop.pings.waiting)
        waits.push_back(wait);
    std::sort(waits.begin(), waits.end(),
              [](const PingWait& a, const PingWait& b) { return a.device < b.device; });
    for (const PingWait& wait : waits)
        endWait(loop, wait, FleetResult::UPDATED,
                waitFailed ? "waiting for replies failed" : INTERRUPTED_WAITING_FOR_PING);
    loop.pings.waiting.clear();
    if (!interrupted && !waitFailed)
        lingerOnDebugLog(&debug);
    closeDebugLog(&debug);
    const bool pastDeadline = interrupted && !platformInterrupted();
    if (run.report->failed && next < devices.size())
        guard.stopped = "the report cannot be written";
    else if (pastDeadline && next < devices.size())
        guard.stopped = "the deadline passed";
    const std::string notStartedWhy = pastDeadline  ? "the deadline passed"
                                      : interrupted ? "interrupted before it started"
                                      : waitFailed  ? "waiting for replies failed"
                                                    : guard.stopped;
    recordNotStarted(loop, next, skipped, notStartedWhy);
    printSummary(loop.tally, platformMonotonicMs(), guard.stopped);
    const FleetTally& t = loop.tally;
    const RunEnd end{howItEnded(interrupted, waitFailed, run, guard), t.updated, t.failed,
                     t.interrupted, t.skipped,
                     t.devices - t.updated - t.failed - t.interrupted - t.skipped - t.notBack,
                     t.pinging, t.notBack};
    const bool recorded = closeLedger(run.report, endJson(run.plan.id, end, platformUtcTimeText()));
    if (!recorded)
        return FLEET_EXIT_REPORT_FAILED;
    if (interrupted)
        return FLEET_EXIT_INTERRUPTED;
    return loop.tally.failed + loop.tally.notBack > 0 || !guard.stopped.empty() ? FLEET_EXIT_SOME_FAILED
                                                           : FLEET_EXIT_UPDATED;
}
