// The update transfer as a session: one image to one device, stop-and-wait.
// The session builds every datagram and judges every reply; its driver moves
// the datagrams and keeps the time. A session prints nothing, ends nothing
// and reads no process-wide state, so one process may run many at once, each
// with its own view of an image.
//
// Driving it: look at action() and do what it says, then report back.
//   SEND      send datagram() (datagramLength() bytes), then sendResult().
//   WAIT      start a new wait for one reply; then reply() with the datagram,
//             or noReply() when none usable came (time-out, failed wait or
//             receive, a datagram shorter than a reply). The driver chooses
//             how long a wait lasts (VNloader: REPLY_TIMEOUT_MS).
//   WAIT_ON   a datagram was dropped without a verdict: wait for the rest of
//             the current wait, then as WAIT.
//   DRAIN     read and drop every datagram already queued, then drained().
//   DONE      outcome() tells how it ended.
#pragma once

#include <cstdint>

#include "link/packets.h"

// How a reply to an earlier packet is taken.
enum class ReplyPolicy : std::uint8_t {
    // VNloader: every datagram is judged against the packet outstanding, so
    // an earlier packet's ACK sends the current packet again.
    ONE_PER_WAIT,
    // VNfleet: an ACK for a packet this session already had acknowledged is
    // dropped and the wait goes on (WAIT_ON).
    DROP_STALE,
};

// What a session sends and how. The image is not copied: it must stay
// unchanged while the session lives; many sessions may share it.
struct TransferSetup {
    const std::uint8_t* image;  // a loaded image buffer (imageBuffer or a copy)
    std::uint32_t imageSize;    // bytes readable at image; beyond them it reads as 0
    std::uint32_t minAddress;   // the bounds as the loader left them
    std::uint32_t maxAddress;   // (nMinHexAddress, nMaxHexAddress; words for a plain DSP)
    int fileType;               // signed, widened from the fileType byte
    bool packaged;              // packagedInput
    bool partialEncrypt;        // clear with -EA
    const char* password;       // setPassword; its first 16 bytes are taken at once
    ReplyPolicy replyPolicy;
    bool resendFinish;          // send the finish packet again after noReply()
};

enum class SessionAction : std::uint8_t { SEND, WAIT, WAIT_ON, DRAIN, DONE };

// What the session met, in the order it met it. first and second as noted.
enum class SessionEventKind : std::uint8_t {
    SENDING_PAGES,   // a code-update packet goes out: first page, last page
    SENDING_FINISH,  // the finish packet goes out: firstPage, endPage
    WRONG_LENGTH,    // a reply of another length: packet (startPage), length
    NACK_RESEND,     // a refusal that asks for the packet again: replyPage
    WRONG_CODE,      // neither ACK nor NACK: replyCode
    WRONG_ACK,       // an ACK for another packet: wanted page, replyPage
    ACKNOWLEDGED,    // the packet outstanding was acknowledged: startPage, pageCount
    STALE_ACK,       // an earlier packet's ACK, dropped: replyPage
                     // (0 at the finish: held, see answerHeld())
};

struct SessionEvent {
    SessionEventKind kind;
    int first;
    int second;
};

using SessionListener = void (*)(void* context, const SessionEvent& event);

enum class SessionReason : std::uint8_t {
    RUNNING,
    COMPLETED,          // the device answered the finish packet
    SEND_FAILED,
    WRONG_PASSWORD,     // NACK 4 to any packet
    BAD_CRC,            // NACK 6 to any packet
    BAD_VERSION,        // NACK 8 to any packet
    FINISH_UNANSWERED,  // no usable answer to the finish packet; detail: the length got
    FINISH_REFUSED,     // another NACK to the finish packet; detail: its replyPage
    NOTHING_TO_SEND,    // the bounds describe no image; nothing was sent
    DSP_TOO_LARGE,      // detail: dspLastPage; nothing was sent
    IMAGE_TOO_LARGE,    // more pages than its kind owns; detail: its pages; nothing was sent
    UNKNOWN_TYPE,       // fileType not 2 to 6; nothing was sent
};

struct SessionOutcome {
    SessionReason reason;
    int detail;       // as noted at the reason; the NACK's replyPage for the three refusals
    bool atFinish;    // the verdict answered the finish packet
    int allotment = 0;  // IMAGE_TOO_LARGE: the pages the image's kind owns
};

struct SessionCounters {
    std::uint32_t datagramsSent;      // code-update and finish packets, resends included
    std::uint32_t resends;            // sends of a packet already sent
    std::uint32_t sendsOfPacket;      // sends of the packet now outstanding
    std::uint32_t pagesAcknowledged;
    std::uint32_t totalPages;         // endPage - firstPage
};

class TransferSession {
public:
    // Works out the page range at once: a refusal leaves action() DONE.
    TransferSession(const TransferSetup& setup, SessionListener listener, void* listenerContext);

    SessionAction action() const { return next; }
    const std::uint8_t* datagram() const { return packet; }
    int datagramLength() const { return length; }

    void sendResult(bool sent);
    void reply(const std::uint8_t* datagram, int datagramLength);
    void noReply();
    void drained();

    const SessionOutcome& outcome() const { return result; }
    const SessionCounters& counters() const { return count; }
    std::uint16_t firstPage() const { return rangeFirst; }
    std::uint16_t endPage() const { return rangeEnd; }
    bool finishSent() const { return finishing; }
    // A late ACK 0 was taken for the finish's answer, should no NACK follow
    // before the current wait ends: the wait's end is no time-out.
    bool answerHeld() const { return held; }

private:
    bool planRange(const TransferSetup& setup);
    void prepareCodeUpdate();
    void prepareFinish();
    void judgeCodeUpdateReply(const std::uint8_t* datagram, int datagramLength);
    void judgeFinishReply(const std::uint8_t* datagram, int datagramLength);
    void refuseFinish(const ReplyFields& answer);
    bool isStartPage(std::uint16_t page) const;
    void resendSame();
    bool end(SessionReason reason, int detail);  // false, for the callers' convenience
    void tell(SessionEventKind kind, int first, int second = 0);

    SessionListener listener;
    void* listenerContext;
    const std::uint8_t* image;
    std::uint32_t imageSize;
    std::uint32_t base;  // offset of the first byte sent
    std::uint8_t finishType = 0;
    bool packaged;
    bool partialEncrypt;
    ReplyPolicy replyPolicy;
    bool resendFinish;
    char password[PASSWORD_FIELD_SIZE + 1];

    std::uint16_t rangeFirst = 0;
    std::uint16_t rangeEnd = 0;
    std::uint16_t startPage = 0;
    int pageCount = 0;
    int headerBytes = 0;
    std::uint32_t imageOffset = 0;
    std::uint8_t flags = 0;
    bool behind = false;     // a packet was resent or an earlier packet's ACK met
    bool finishing = false;  // the finish packet has gone out
    bool resending = false;  // the datagram to send is a resend
    bool held = false;       // see answerHeld()
    std::uint32_t sendsOfPageZero = 0;

    SessionAction next = SessionAction::DONE;
    SessionOutcome result{SessionReason::RUNNING, 0, false};
    SessionCounters count{};
    std::uint8_t packet[PACKET_BUFFER_SIZE] = {};
    int length = 0;
};
