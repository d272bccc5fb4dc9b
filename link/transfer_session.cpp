#include "link/transfer_session.h"

#include <vector>

#include "image/crc16.h"
#include "image/image_geometry.h"
#include "image/image_kinds.h"

namespace {
bool refusalEndsRun(std::uint8_t reason, SessionReason* why)
{
    switch (reason) {
    case NACK_WRONG_PASSWORD: *why = SessionReason::WRONG_PASSWORD; return true;
    case NACK_BAD_CRC: *why = SessionReason::BAD_CRC; return true;
    case NACK_BAD_VERSION: *why = SessionReason::BAD_VERSION; return true;
    default: return false;
    }
}
}  // namespace

TransferSession::TransferSession(const TransferSetup& setup, SessionListener listenerCall,
                                 void* context)
    : listener(listenerCall),
      listenerContext(context),
      image(setup.image),
      imageSize(setup.imageSize),
      base(0),
      packaged(setup.packaged),
      partialEncrypt(setup.partialEncrypt),
      replyPolicy(setup.replyPolicy),
      resendFinish(setup.resendFinish),
      password{}
{
    for (int i = 0; i < PASSWORD_FIELD_SIZE && setup.password && setup.password[i]; ++i)
        password[i] = setup.password[i];
    if (!planRange(setup))
        return;
    flags = packaged ? FLAG_PAGE_HEADER | FLAG_ENCRYPTED : 0x00;
    headerBytes = packaged ? static_cast<int>(PAGE_HEADER_SIZE) : 0;
    startPage = rangeFirst;
    count.totalPages = static_cast<std::uint32_t>(rangeEnd - rangeFirst);
    startCodeUpdatePacket(packet, flags, startPage, password);
    if (startPage < rangeEnd)
        prepareCodeUpdate();
    else
        next = SessionAction::DRAIN;
}

// The device's page range for the image; false when it cannot be sent.
bool TransferSession::planRange(const TransferSetup& setup)
{
    ImageExtent extent{};
    if (!loadedImageExtent(setup.fileType, packaged, setup.minAddress, setup.maxAddress, &extent))
        return end(SessionReason::NOTHING_TO_SEND, 0);
    base = extent.base;
    const ImageKind* kind = imageKindOf(setup.fileType);
    if (!kind)
        return end(SessionReason::UNKNOWN_TYPE, setup.fileType);
    finishType = kind->finishType;
    rangeFirst = kind->firstPage;
    const PagePlan pages = planPages(*kind, packaged, extent.size);
    switch (pages.verdict) {
    case PagePlanVerdict::FITS: break;
    case PagePlanVerdict::NO_IMAGE: return end(SessionReason::NOTHING_TO_SEND, 0);
    case PagePlanVerdict::DSP_TOO_LARGE:
        return end(SessionReason::DSP_TOO_LARGE, static_cast<int>(pages.endPage));
    case PagePlanVerdict::OVER_ALLOTMENT:
        end(SessionReason::IMAGE_TOO_LARGE, static_cast<int>(pages.imagePages));
        result.allotment = static_cast<int>(pageAllotment(*kind));
        return false;
    }
    rangeEnd = static_cast<std::uint16_t>(pages.endPage);
    return true;
}

void TransferSession::prepareCodeUpdate()
{
    pageCount = rangeEnd - startPage < PAGES_PER_PACKET ? rangeEnd - startPage : PAGES_PER_PACKET;
    // The payload is copied afresh for every send, a resend included.
    length = fillCodeUpdatePacket(packet, pageCount, headerBytes, image, imageSize,
                                  static_cast<std::uint64_t>(base) + imageOffset);
    tell(SessionEventKind::SENDING_PAGES, startPage, startPage + pageCount - 1);
    next = SessionAction::SEND;
}

void TransferSession::prepareFinish()
{
    const std::uint32_t span = static_cast<std::uint32_t>(rangeEnd - rangeFirst) * PAGE_SIZE;
    std::uint16_t crc = 0;
    if (base <= imageSize && span <= imageSize - base) {
        crc = updateCrc16(image + base, span);
    } else {
        // Bytes past the buffer count as zeros.
        std::vector<std::uint8_t> padded(span);
        copyImageBytes(padded.data(), image, imageSize, base, span);
        crc = updateCrc16(padded.data(), span);
    }
    length = makeFinishPacket(packet, finishType,
                              packaged ? FLAG_ENCRYPTED : flags, rangeFirst, rangeEnd, crc);
    finishing = true;
    tell(SessionEventKind::SENDING_FINISH, rangeFirst, rangeEnd);
    next = SessionAction::SEND;
}

void TransferSession::sendResult(bool sent)
{
    if (next != SessionAction::SEND)
        return;
    ++count.datagramsSent;
    ++count.sendsOfPacket;
    if (!finishing && startPage == 0)
        ++sendsOfPageZero;
    if (resending)
        ++count.resends;
    resending = false;
    if (sent)
        next = SessionAction::WAIT;
    else
        end(SessionReason::SEND_FAILED, 0);
}

void TransferSession::reply(const std::uint8_t* datagram, int datagramLength)
{
    if (next != SessionAction::WAIT && next != SessionAction::WAIT_ON)
        return;
    // Shorter than a reply: nothing usable, as when none came.
    if (datagram == nullptr || datagramLength < REPLY_LENGTH) {
        datagram = nullptr;
        datagramLength = 0;
    }
    if (finishing)
        judgeFinishReply(datagram, datagramLength);
    else
        judgeCodeUpdateReply(datagram, datagramLength);
}

void TransferSession::noReply()
{
    reply(nullptr, 0);
}

void TransferSession::drained()
{
    if (next == SessionAction::DRAIN)
        prepareFinish();
}

void TransferSession::judgeCodeUpdateReply(const std::uint8_t* datagram, int datagramLength)
{
    if (datagram == nullptr)
        return resendSame();  // the driver knows why
    if (datagramLength != REPLY_LENGTH) {
        tell(SessionEventKind::WRONG_LENGTH, startPage, datagramLength);
        return resendSame();
    }
    const ReplyFields answer = readReply(datagram);
    SessionReason refusal{};
    if (answer.replyCode == TFTP_NACK) {
        if (refusalEndsRun(answer.nackReason, &refusal)) {
            end(refusal, answer.replyPage);
            return;
        }
        tell(SessionEventKind::NACK_RESEND, answer.replyPage);
        return resendSame();
    }
    if (answer.replyCode != TFTP_ACK) {
        tell(SessionEventKind::WRONG_CODE, answer.replyCode);
        return resendSame();
    }
    if (answer.replyPage != startPage) {
        if (isStartPage(answer.replyPage) && answer.replyPage < startPage) {
            behind = true;
            if (replyPolicy == ReplyPolicy::DROP_STALE) {
                tell(SessionEventKind::STALE_ACK, answer.replyPage);
                next = SessionAction::WAIT_ON;
                return;
            }
        }
        tell(SessionEventKind::WRONG_ACK, startPage, answer.replyPage);
        return resendSame();
    }
    tell(SessionEventKind::ACKNOWLEDGED, startPage, pageCount);
    count.pagesAcknowledged += static_cast<std::uint32_t>(pageCount);
    count.sendsOfPacket = 0;
    startPage = static_cast<std::uint16_t>(startPage + pageCount);
    imageOffset += static_cast<std::uint32_t>(headerBytes) + PAGE_SIZE * pageCount;
    headerBytes = 0;
    // Only the first packet carries the page header; later ones are
    // enciphered only when the whole package is.
    flags &= FLAG_ENCRYPTED;
    if (partialEncrypt)
        flags = 0x00;
    packet[OFF_FLAGS] = flags;
    putU16(packet + OFF_START_PAGE, startPage);
    if (startPage < rangeEnd)
        prepareCodeUpdate();
    else
        next = SessionAction::DRAIN;
}

void TransferSession::judgeFinishReply(const std::uint8_t* datagram, int datagramLength)
{
    if (held) {
        // Only a NACK can still overturn the held answer; the wait's end confirms it.
        if (datagram == nullptr)
            end(SessionReason::COMPLETED, 0);
        else if (datagramLength != REPLY_LENGTH || readReply(datagram).replyCode != TFTP_NACK)
            next = SessionAction::WAIT_ON;
        else
            refuseFinish(readReply(datagram));
        return;
    }
    if (datagram == nullptr || datagramLength != REPLY_LENGTH) {
        if (!resendFinish) {
            end(SessionReason::FINISH_UNANSWERED, datagramLength);
            return;
        }
        if (datagram != nullptr)
            tell(SessionEventKind::WRONG_LENGTH, 0, datagramLength);
        return resendSame();
    }
    const ReplyFields answer = readReply(datagram);
    // A late ACK of a code-update packet: after a resend (or always, for a
    // fleet) it is dropped.
    const bool lateAck = answer.replyCode == TFTP_ACK && answer.replyPage != 0 &&
                         isStartPage(answer.replyPage);
    if (lateAck && (behind || replyPolicy == ReplyPolicy::DROP_STALE)) {
        tell(SessionEventKind::STALE_ACK, answer.replyPage);
        next = SessionAction::WAIT_ON;
        return;
    }
    // Page 0 is also the finish packet's own number: once packet 0 went out
    // twice, its ACK may be a late copy that hides the device's NACK.
    if (answer.replyCode == TFTP_ACK && answer.replyPage == 0 && sendsOfPageZero > 1) {
        held = true;
        tell(SessionEventKind::STALE_ACK, 0);
        next = SessionAction::WAIT_ON;
        return;
    }
    if (answer.replyCode == TFTP_NACK)
        refuseFinish(answer);
    else
        end(SessionReason::COMPLETED, 0);  // any other answer completes
}

void TransferSession::refuseFinish(const ReplyFields& answer)
{
    SessionReason verdict = SessionReason::FINISH_REFUSED;
    refusalEndsRun(answer.nackReason, &verdict);
    end(verdict, answer.replyPage);
}

// A start page of one of this session's code-update packets.
bool TransferSession::isStartPage(std::uint16_t page) const
{
    return page >= rangeFirst && page < rangeEnd && (page - rangeFirst) % PAGES_PER_PACKET == 0;
}

void TransferSession::resendSame()
{
    behind = true;
    resending = true;
    if (finishing) {
        tell(SessionEventKind::SENDING_FINISH, rangeFirst, rangeEnd);
        next = SessionAction::SEND;
        return;
    }
    prepareCodeUpdate();
}

bool TransferSession::end(SessionReason reason, int detail)
{
    result = SessionOutcome{reason, detail, finishing};
    next = SessionAction::DONE;
    return false;
}

void TransferSession::tell(SessionEventKind kind, int first, int second)
{
    if (listener)
        listener(listenerContext, SessionEvent{kind, first, second});
}
