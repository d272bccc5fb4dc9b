#include "app/update_transfer.h"

#include <cstring>

#include "app/settings.h"
#include "app/transfer_words.h"
#include "diag/console.h"
#include "diag/log.h"
#include "image/hex_reader.h"
#include "image/image_buffer.h"
#include "image/image_geometry.h"
#include "app/loaders.h"
#include "link/transfer_session.h"
#include "platform/platform.h"

namespace {
// *ready: as link->wait gave it. A quiet wait logs no time-out.
int receiveReplyWithin(const UpdateLink* link, std::uint8_t* buffer, int size, int timeoutMs,
                       bool quiet = false, int* ready = nullptr)
{
    int waited = link->wait(link->context, timeoutMs);
    if (ready)
        *ready = waited;
    if (waited < 0) {
        logMessage("WAIT_FAILED retransmitting packet\n");
        return 0;
    }
    if (waited == 0) {
        if (!quiet)
            logMessage("recv timeout retransmitting packet\n");
        return 0;
    }
    std::memset(buffer, 0, static_cast<std::size_t>(size));
    int length = link->receive(link->context, buffer, size);
    if (length < 0) {
        logMessage("Error recvfrom retransmitting packet");
        return 0;
    }
    if (length < REPLY_LENGTH) {
        logMessage("Error recvfrom length too short retransmitting packet");
        return 0;
    }
    return length;
}

// What is left of a wait that started at waitStart.
int remainingMs(const UpdateLink* link, std::uint64_t waitStart)
{
    const std::uint64_t waited = platformMonotonicMs() - waitStart;
    const auto limit = static_cast<std::uint64_t>(link->replyTimeoutMs);
    return waited >= limit ? 0 : static_cast<int>(limit - waited);
}

void printEvent(void*, const SessionEvent& event)
{
    switch (event.kind) {
    case SessionEventKind::SENDING_PAGES:
        consolePrint("Sending Code Update pages %d to %d\n", event.first, event.second);
        break;
    case SessionEventKind::WRONG_LENGTH:
        consolePrint(WRONG_LENGTH_TEXT, event.first, REPLY_LENGTH, event.second);
        break;
    case SessionEventKind::NACK_RESEND:
        consolePrint("Received a NACK from packet %d\n", event.first);
        break;
    case SessionEventKind::WRONG_CODE:
        consolePrint("Did not get the correct command expected TFTP_ACK(%d), got %d\n",
                     static_cast<int>(TFTP_ACK), event.first);
        break;
    case SessionEventKind::WRONG_ACK:
        consolePrint("Received ACK from wrong packet. Wanted packet %d, got packet %d\n",
                     event.first, event.second);
        break;
    case SessionEventKind::SENDING_FINISH:
    case SessionEventKind::ACKNOWLEDGED:
    case SessionEventKind::STALE_ACK:
        break;
    }
}

TransferOutcome reportEnd(const SessionOutcome& outcome)
{
    char text[LOG_LINE_SIZE];
    transferEndText(outcome, settings.fileName, text, sizeof text);
    const int status = transferExitStatus(outcome);
    switch (outcome.reason) {
    case SessionReason::COMPLETED:
        consolePrint("%s", text);
        return TransferOutcome{TRANSFER_COMPLETED, status};
    case SessionReason::SEND_FAILED:
        logMessage("%s", text);
        return TransferOutcome{TRANSFER_SEND_FAILED, status};
    default:
        consolePrint("%s", text);
        return TransferOutcome{TRANSFER_REFUSED, status};
    }
}
}  // namespace

int receiveReply(const UpdateLink* link, std::uint8_t* buffer, int size)
{
    return receiveReplyWithin(link, buffer, size, link->replyTimeoutMs);
}

TransferSetup loaderTransferSetup(int fileType)
{
    TransferSetup setup{};
    setup.image = imageBuffer;
    setup.imageSize = IMAGE_BUFFER_SIZE;
    setup.minAddress = nMinHexAddress;
    setup.maxAddress = nMaxHexAddress;
    setup.fileType = fileType;
    setup.packaged = settings.packagedInput != 0;
    setup.partialEncrypt = settings.partialEncrypt != 0;
    setup.password = settings.setPassword;
    setup.replyPolicy = ReplyPolicy::ONE_PER_WAIT;
    setup.resendFinish = false;
    return setup;
}

TransferOutcome transferFile(const UpdateLink* link, int fileType)
{
    const bool packaged = settings.packagedInput != 0;
    const TransferSetup setup = loaderTransferSetup(fileType);
    // From here on the bounds of a plain DSP image are byte offsets.
    ImageExtent extent{};
    if (!packaged && fileType == TYPE_DSP_HEX &&
        loadedImageExtent(fileType, packaged, nMinHexAddress, nMaxHexAddress, &extent)) {
        nMinHexAddress = extent.base;
        nMaxHexAddress = extent.base + extent.size;
    }

    TransferSession session(setup, printEvent, nullptr);
    std::uint8_t reply[PACKET_BUFFER_SIZE];
    std::uint64_t waitStart = 0;
    for (;;) {
        switch (session.action()) {
        case SessionAction::SEND:
            session.sendResult(link->send(link->context, session.datagram(),
                                          session.datagramLength()) >= 0);
            break;
        case SessionAction::WAIT:
            waitStart = platformMonotonicMs();
            [[fallthrough]];
        case SessionAction::WAIT_ON: {
            // Each wait reads one datagram; after a dropped one the wait
            // goes on for the rest of its time. With an answer held only
            // the wait's end (or its failure) ends it.
            const bool held = session.answerHeld();
            const int remaining = remainingMs(link, waitStart);
            if (held && remaining == 0) {
                session.noReply();  // the wait is over
                break;
            }
            int ready = 0;
            const int received = receiveReplyWithin(link, reply, PACKET_BUFFER_SIZE, remaining,
                                                    held, &ready);
            if (received != 0)
                session.reply(reply, received);
            else if (!held || ready <= 0)
                session.noReply();
            break;
        }
        case SessionAction::DRAIN:
            // Answers still queued belong to packets already acknowledged.
            if (link->drain)
                link->drain(link->context);
            session.drained();
            break;
        case SessionAction::DONE:
            return reportEnd(session.outcome());
        }
    }
}

int runUpdate(const UpdateLink* link)
{
    std::uint32_t loaded = 0;
    if (settings.packagedInput == 0 &&
        (settings.fileType == TYPE_MAIN_HEX || settings.fileType == TYPE_DSP_HEX))
        loaded = static_cast<std::uint32_t>(readHexFile(settings.fileName, settings.fileType));
    else
        loaded = readUpdateFile(settings.fileName);
    if (loaded == 0)
        return 1;  // the loader has said why

    consolePrint("Sending the new microcode to the remote system\n");
    // Read only now: loading a package sets it.
    int fileType = static_cast<std::int8_t>(settings.fileType);
    TransferOutcome outcome = transferFile(link, fileType);
    if (outcome.result == TRANSFER_COMPLETED)
        consolePrint("Do not remove the power until you get a reply from pinging the device.\n");
    return outcome.exitStatus;
}
