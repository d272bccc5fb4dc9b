// The transfer session's own rules: the fleet's reply policy, the finish
// resend, the reasons it ends with, and sessions side by side.
#include "link/transfer_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

namespace {
using Bytes = std::vector<std::uint8_t>;

const Bytes NO_REPLY;  // the wait gave nothing usable

Bytes answer(std::uint8_t code, std::uint8_t reason, std::uint16_t page)
{
    Bytes d(REPLY_LENGTH, 0);
    d[OFF_REPLY_CODE] = code;
    d[OFF_NACK_REASON] = reason;
    putU16(d.data() + OFF_REPLY_PAGE, page);
    return d;
}

Bytes ack(std::uint16_t page)
{
    return answer(TFTP_ACK, 0, page);
}

std::uint8_t image[0x3000];

// A plain main image of `pages` pages (packets 0, 4, 8, ...).
TransferSetup mainImage(std::uint32_t pages, ReplyPolicy policy, bool resendFinish = false)
{
    return TransferSetup{image, sizeof image, 0,    pages * 256, 2, false, true, "pw",
                         policy, resendFinish};
}

struct SessionRun {
    std::vector<Bytes> sent;
    std::vector<SessionEventKind> events;
    int drains = 0;
};

void noteEvent(void* context, const SessionEvent& event)
{
    static_cast<SessionRun*>(context)->events.push_back(event.kind);
}

// Plays the answers in order, then acknowledges whatever went out last.
void drive(TransferSession& session, SessionRun& run, std::deque<Bytes> answers,
           int failSendAt = -1)
{
    while (session.action() != SessionAction::DONE) {
        switch (session.action()) {
        case SessionAction::SEND:
            run.sent.emplace_back(session.datagram(), session.datagram() + session.datagramLength());
            session.sendResult(static_cast<int>(run.sent.size()) - 1 != failSendAt);
            break;
        case SessionAction::WAIT:
        case SessionAction::WAIT_ON: {
            Bytes next = ack(getU16(run.sent.back().data() + OFF_START_PAGE));
            if (!answers.empty()) {
                next = answers.front();
                answers.pop_front();
            }
            if (next.empty())
                session.noReply();
            else
                session.reply(next.data(), static_cast<int>(next.size()));
            break;
        }
        case SessionAction::DRAIN:
            ++run.drains;
            session.drained();
            break;
        case SessionAction::DONE:
            break;
        }
    }
}

SessionRun drive(const TransferSetup& setup, std::deque<Bytes> answers, SessionOutcome* outcome,
          int failSendAt = -1)
{
    SessionRun run;
    TransferSession session(setup, noteEvent, &run);
    drive(session, run, std::move(answers), failSendAt);
    *outcome = session.outcome();
    return run;
}

TEST(TransferSession, FleetDropsAcksOfAcknowledgedPacketsWithoutAResend)
{
    SessionOutcome outcome{};
    // Packets 0, 4, 8: late ACKs of 0 while 4 is out, of 4 while the
    // finish packet is out; an ACK of 8 while 4 is out is resent as ever.
    SessionRun run = drive(mainImage(9, ReplyPolicy::DROP_STALE),
                    {ack(0), ack(0), ack(8), ack(4), ack(8), ack(4), ack(0)}, &outcome);
    EXPECT_EQ(outcome.reason, SessionReason::COMPLETED);
    ASSERT_EQ(run.sent.size(), 5u);  // 0, 4, 4 again after the ACK of 8, 8, finish
    EXPECT_EQ(run.sent[1], run.sent[2]);
    EXPECT_EQ(std::count(run.events.begin(), run.events.end(), SessionEventKind::STALE_ACK), 2);
    EXPECT_EQ(run.drains, 1);

    // The same answers under VNloader's policy: each late ACK costs a resend.
    run = drive(mainImage(9, ReplyPolicy::ONE_PER_WAIT),
                {ack(0), ack(0), ack(8), ack(4), ack(8), ack(4), ack(0)}, &outcome);
    EXPECT_EQ(std::count(run.events.begin(), run.events.end(), SessionEventKind::WRONG_ACK), 2);
    EXPECT_EQ(run.sent.size(), 6u);
}

TEST(TransferSession, FinishIsResentOnlyWhenAsked)
{
    SessionOutcome outcome{};
    SessionRun run = drive(mainImage(1, ReplyPolicy::DROP_STALE, true), {ack(0), NO_REPLY, NO_REPLY},
                    &outcome);
    EXPECT_EQ(outcome.reason, SessionReason::COMPLETED);
    ASSERT_EQ(run.sent.size(), 4u);
    EXPECT_EQ(run.sent[1], run.sent[3]);
    EXPECT_EQ(run.sent[1].size(), static_cast<std::size_t>(FINISH_PACKET_SIZE));

    run = drive(mainImage(1, ReplyPolicy::ONE_PER_WAIT), {ack(0), NO_REPLY}, &outcome);
    EXPECT_EQ(outcome.reason, SessionReason::FINISH_UNANSWERED);
    EXPECT_EQ(run.sent.size(), 2u);
}

// Packet 0 sent twice: an ACK 0 at the finish may be its late copy, so only
// a NACK within the wait, or the wait's end, decides; under both policies.
TEST(TransferSession, LateAckOfPacketZeroAtTheFinishIsHeld)
{
    for (bool fleet : {false, true}) {
        const TransferSetup setup =
            mainImage(1, fleet ? ReplyPolicy::DROP_STALE : ReplyPolicy::ONE_PER_WAIT, fleet);
        SessionOutcome outcome{};
        drive(setup, {NO_REPLY, ack(0), ack(0), Bytes(24, 0), answer(TFTP_NACK, 6, 0)}, &outcome);
        EXPECT_EQ(outcome.reason, SessionReason::BAD_CRC) << fleet;
        drive(setup, {NO_REPLY, ack(0), ack(0), ack(0), NO_REPLY}, &outcome);
        EXPECT_EQ(outcome.reason, SessionReason::COMPLETED) << fleet;
    }
}

TEST(TransferSession, OutcomeReasons)
{
    struct Case {
        const char* name;
        TransferSetup setup;
        std::deque<Bytes> answers;
        int failSendAt;
        SessionReason reason;
        int detail;
        bool atFinish;
    };
    TransferSetup dspTooLarge = mainImage(1, ReplyPolicy::ONE_PER_WAIT);
    dspTooLarge.fileType = 3;
    dspTooLarge.packaged = true;
    dspTooLarge.maxAddress = 25600;
    TransferSetup unknownType = dspTooLarge;
    unknownType.fileType = 7;
    TransferSetup noData = mainImage(1, ReplyPolicy::ONE_PER_WAIT);
    noData.minAddress = 0x30000;
    const TransferSetup one = mainImage(1, ReplyPolicy::ONE_PER_WAIT);
    const Case cases[] = {
        {"completed", one, {}, -1, SessionReason::COMPLETED, 0, true},
        {"send failed", one, {}, 1, SessionReason::SEND_FAILED, 0, true},
        {"nack 4", one, {answer(TFTP_NACK, 4, 0)}, -1, SessionReason::WRONG_PASSWORD, 0, false},
        {"nack 6", one, {ack(0), answer(TFTP_NACK, 6, 0)}, -1, SessionReason::BAD_CRC, 0, true},
        {"nack 8", one, {answer(TFTP_NACK, 8, 0)}, -1, SessionReason::BAD_VERSION, 0, false},
        {"finish unanswered", one, {ack(0), Bytes(24, 0)}, -1, SessionReason::FINISH_UNANSWERED,
         24, true},
        {"finish refused", one, {ack(0), answer(TFTP_NACK, 5, 3)}, -1,
         SessionReason::FINISH_REFUSED, 3, true},
        {"nothing to send", noData, {}, -1, SessionReason::NOTHING_TO_SEND, 0, false},
        {"dsp too large", dspTooLarge, {}, -1, SessionReason::DSP_TOO_LARGE, 1672, false},
        {"unknown type", unknownType, {}, -1, SessionReason::UNKNOWN_TYPE, 7, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionOutcome outcome{};
        drive(c.setup, c.answers, &outcome, c.failSendAt);
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_EQ(outcome.detail, c.detail);
        EXPECT_EQ(outcome.atFinish, c.atFinish);
    }
}

// Sessions taking turns on one shared image send what each would alone.
TEST(TransferSession, ManySessionsSideBySide)
{
    for (std::size_t i = 0; i < sizeof image; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    TransferSetup setups[3] = {mainImage(9, ReplyPolicy::DROP_STALE),
                               mainImage(5, ReplyPolicy::ONE_PER_WAIT),
                               mainImage(12, ReplyPolicy::DROP_STALE, true)};
    setups[1].password = "other";
    setups[2].packaged = true;
    std::vector<SessionRun> alone(3);
    std::vector<SessionRun> together(3);
    std::vector<TransferSession> sessions;
    for (int i = 0; i < 3; ++i) {
        SessionOutcome outcome{};
        alone[i] = drive(setups[i], {}, &outcome);
        sessions.emplace_back(setups[i], nullptr, nullptr);
    }
    // One step of each in turn until all are done.
    for (bool busy = true; busy;) {
        busy = false;
        for (int i = 0; i < 3; ++i) {
            TransferSession& session = sessions[static_cast<std::size_t>(i)];
            if (session.action() == SessionAction::DONE)
                continue;
            busy = true;
            SessionRun& run = together[static_cast<std::size_t>(i)];
            if (session.action() == SessionAction::SEND) {
                run.sent.emplace_back(session.datagram(),
                                      session.datagram() + session.datagramLength());
                session.sendResult(true);
            } else if (session.action() == SessionAction::DRAIN) {
                session.drained();
            } else {
                Bytes reply = ack(getU16(run.sent.back().data() + OFF_START_PAGE));
                session.reply(reply.data(), REPLY_LENGTH);
            }
        }
    }
    // On a clean line the fleet's policy sends VNloader's bytes.
    SessionOutcome outcome{};
    EXPECT_EQ(drive(mainImage(9, ReplyPolicy::ONE_PER_WAIT), {}, &outcome).sent, alone[0].sent);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(together[i].sent, alone[i].sent) << "session " << i;
        EXPECT_EQ(sessions[static_cast<std::size_t>(i)].outcome().reason, SessionReason::COMPLETED);
        EXPECT_EQ(sessions[static_cast<std::size_t>(i)].counters().pagesAcknowledged,
                  sessions[static_cast<std::size_t>(i)].counters().totalPages);
    }
}
}  // namespace
