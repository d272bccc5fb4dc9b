#include "info_transfer.h"

#include <cstring>

#include "app/settings.h"
#include "image/image_buffer.h"
#include "info_capture.h"
#include "link/packets.h"
#include "link/transfer.h"

namespace {
// The device's page space: where each type's pages end. A type's image
// must stay below the next type's first page.
struct PageArea {
    int fileType;
    std::uint16_t first;
    std::uint16_t limit;  // exclusive
};

constexpr PageArea pageAreas[] = {
    {TYPE_MAIN_HEX, 0, 1027}, {TYPE_HTML, 1027, 1427}, {TYPE_JAVA, 1427, 1555},
    {TYPE_LOGO, 1555, 1571},  {TYPE_DSP_HEX, 1571, 1671},
};

// Far more packets than the largest image needs: a guard, not a limit.
constexpr std::uint32_t PACKET_GUARD = 0x10000;

// What went out during the dry run.
struct DryRun {
    std::uint32_t packets;
    std::uint16_t lastStart;
    bool finishSent;
    std::uint8_t firstFlags;
    int firstLength;
    bool haveLater;
    std::uint8_t laterFlags;
    std::uint8_t finish[FINISH_PACKET_SIZE];
};

DryRun dry;

int drySend(void*, const std::uint8_t* data, int length)
{
    if (data[OFF_OPCODE] == TFTP_FINISH) {
        std::memcpy(dry.finish, data, sizeof dry.finish);
        dry.finishSent = true;
        return length;
    }
    if (dry.packets >= PACKET_GUARD)
        return -1;
    if (dry.packets == 0) {
        dry.firstFlags = data[OFF_FLAGS];
        dry.firstLength = length;
    } else if (!dry.haveLater) {
        dry.laterFlags = data[OFF_FLAGS];
        dry.haveLater = true;
    }
    ++dry.packets;
    dry.lastStart = getU16(data + OFF_START_PAGE);
    return length;
}

int dryWait(void*, int)
{
    return 1;
}

// The acknowledgement a willing device gives to whatever went out last.
int dryReceive(void*, std::uint8_t* buffer, int)
{
    buffer[OFF_REPLY_CODE] = TFTP_ACK;
    putU16(buffer + OFF_REPLY_PAGE, dry.finishSent ? 0 : dry.lastStart);
    return REPLY_LENGTH;
}

std::string withoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

const PageArea* areaOf(int fileType)
{
    for (const PageArea& area : pageAreas)
        if (area.fileType == fileType)
            return &area;
    return nullptr;
}

const char* areaAt(std::uint32_t page)
{
    for (const PageArea& area : pageAreas)
        if (page >= area.first && page < area.limit)
            return typeName(area.fileType);
    return "no type's";
}

// Logo and html go to fixed ranges whatever their size; Java pages follow
// from its size and may run into the logo's.
void checkRange(InfoReport& report, int fileType)
{
    const TransferView& plan = report.transfer;
    const PageArea* area = areaOf(fileType);
    if (!area)
        return;
    const std::uint32_t sent = plan.endPage > plan.firstPage ? plan.endPage - plan.firstPage : 0;
    if (plan.endPage > area->limit)
        addProblem(report, INFO_OUT_OF_RANGE,
                   "pages %u to %u run past the %s pages (%u to %u) into the %s pages",
                   static_cast<unsigned>(plan.firstPage), static_cast<unsigned>(plan.endPage - 1),
                   typeName(fileType), static_cast<unsigned>(area->first),
                   static_cast<unsigned>(area->limit - 1), areaAt(area->limit));
    else if (fileType != TYPE_DSP_HEX && plan.imagePages > sent)
        addProblem(report, INFO_OUT_OF_RANGE,
                   "the image fills %u pages, but the %s range holds %u: the last %u would not "
                   "be sent",
                   static_cast<unsigned>(plan.imagePages), typeName(fileType),
                   static_cast<unsigned>(sent), static_cast<unsigned>(plan.imagePages - sent));
}
}  // namespace

void planTransfer(InfoReport& report, int fileType)
{
    TransferView& plan = report.transfer;
    const bool packaged = settings.packagedInput != 0;
    dry = DryRun{};
    UpdateLink link{nullptr, drySend, dryWait, dryReceive, 0, nullptr};
    startCapture();
    const TransferOutcome outcome = transferFile(&link, fileType);
    const std::string said = stopCapture();

    if (outcome.result == TRANSFER_MUST_END || !dry.finishSent) {
        plan.refused = true;
        plan.loaderExitStatus = outcome.exitStatus;
        plan.refusal = withoutLineEnd(said);
        addProblem(report, INFO_REFUSED, "VNloader would not send it: \"%s\" (exit status %d)",
                   plan.refusal.c_str(), outcome.exitStatus);
        return;
    }
    plan.planned = true;
    plan.packets = dry.packets;
    plan.firstFlags = dry.firstFlags;
    plan.firstLength = dry.firstLength;
    plan.haveLater = dry.haveLater;
    plan.laterFlags = dry.laterFlags;
    plan.finishType = dry.finish[OFF_COUNT_OR_TYPE];
    plan.finishFlags = dry.finish[OFF_FLAGS];
    plan.firstPage = getU16(dry.finish + OFF_FIRST_PAGE);
    plan.endPage = getU16(dry.finish + OFF_END_PAGE);
    plan.imageCrc = getU16(dry.finish + OFF_IMAGE_CRC);

    // The bounds as the transfer leaves them: a package body from offset 0,
    // a plain image between its (byte) bounds.
    const std::uint32_t size = packaged ? nMaxHexAddress : nMaxHexAddress - nMinHexAddress;
    plan.imageBytes = !packaged ? size : size > PAGE_HEADER_SIZE ? size - PAGE_HEADER_SIZE : 0;
    plan.imagePages = plan.imageBytes / PAGE_SIZE + (plan.imageBytes % PAGE_SIZE != 0 ? 1 : 0);
    checkRange(report, fileType);
}
