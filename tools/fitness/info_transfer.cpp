#include "info_transfer.h"

#include <cstring>

#include "app/settings.h"
#include "app/transfer_words.h"
#include "app/update_transfer.h"
#include "image/image_buffer.h"
#include "image/image_geometry.h"
#include "link/transfer_session.h"

namespace {
// Far more packets than the largest image needs: a guard, not a limit.
constexpr std::uint32_t PACKET_GUARD = 0x10000;

// What went out during the dry run.
struct DryRun {
    std::uint32_t packets;
    std::uint8_t firstFlags;
    int firstLength;
    bool haveLater;
    std::uint8_t laterFlags;
    bool finishSent;
    std::uint8_t finish[FINISH_PACKET_SIZE];
};

void noteSent(DryRun& dryRun, const std::uint8_t* data, int length)
{
    if (data[OFF_OPCODE] == TFTP_FINISH) {
        std::memcpy(dryRun.finish, data, sizeof dryRun.finish);
        dryRun.finishSent = true;
        return;
    }
    if (dryRun.packets == 0) {
        dryRun.firstFlags = data[OFF_FLAGS];
        dryRun.firstLength = length;
    } else if (!dryRun.haveLater) {
        dryRun.laterFlags = data[OFF_FLAGS];
        dryRun.haveLater = true;
    }
    ++dryRun.packets;
}

// Drives the session with a link that sends nowhere and a willing device
// that acknowledges whatever went out last.
SessionOutcome dryRunTransfer(const TransferSetup& setup, DryRun& dryRun)
{
    TransferSession session(setup, nullptr, nullptr);
    std::uint8_t acknowledgement[REPLY_LENGTH] = {TFTP_ACK};
    while (session.action() != SessionAction::DONE) {
        switch (session.action()) {
        case SessionAction::SEND:
            noteSent(dryRun, session.datagram(), session.datagramLength());
            std::memcpy(acknowledgement + OFF_REPLY_PAGE, session.datagram() + OFF_START_PAGE, 2);
            session.sendResult(dryRun.packets < PACKET_GUARD);
            break;
        case SessionAction::WAIT:
        case SessionAction::WAIT_ON:
            session.reply(acknowledgement, REPLY_LENGTH);
            break;
        case SessionAction::DRAIN:
            session.drained();
            break;
        case SessionAction::DONE:
            break;
        }
    }
    return session.outcome();
}

std::string withoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}
}  // namespace

void planTransfer(InfoReport& report, int fileType)
{
    TransferView& plan = report.transfer;
    const bool packaged = settings.packagedInput != 0;
    const TransferSetup setup = loaderTransferSetup(fileType);
    DryRun dryRun{};
    const SessionOutcome outcome = dryRunTransfer(setup, dryRun);

    if (outcome.reason != SessionReason::COMPLETED) {
        char said[512];
        transferEndText(outcome, settings.fileName, said, sizeof said);
        plan.refused = true;
        plan.loaderExitStatus = transferExitStatus(outcome);
        plan.refusal = withoutLineEnd(said);
        addProblem(report, INFO_REFUSED, "VNloader would not send it: \"%s\" (exit status %d)",
                   plan.refusal.c_str(), plan.loaderExitStatus);
        return;
    }
    plan.planned = true;
    plan.packets = dryRun.packets;
    plan.firstFlags = dryRun.firstFlags;
    plan.firstLength = dryRun.firstLength;
    plan.haveLater = dryRun.haveLater;
    plan.laterFlags = dryRun.laterFlags;
    plan.finishType = dryRun.finish[OFF_COUNT_OR_TYPE];
    plan.finishFlags = dryRun.finish[OFF_FLAGS];
    plan.firstPage = getU16(dryRun.finish + OFF_FIRST_PAGE);
    plan.endPage = getU16(dryRun.finish + OFF_END_PAGE);
    plan.imageCrc = getU16(dryRun.finish + OFF_IMAGE_CRC);

    // The image as the transfer sees it: a package body from offset 0, a
    // plain image between its (byte) bounds, a package's page header left out.
    ImageExtent extent{};
    loadedImageExtent(fileType, packaged, nMinHexAddress, nMaxHexAddress, &extent);
    const std::uint32_t size = extent.size;
    plan.imageBytes = !packaged ? size : size > PAGE_HEADER_SIZE ? size - PAGE_HEADER_SIZE : 0;
    plan.imagePages = pagesOf(plan.imageBytes);
}
