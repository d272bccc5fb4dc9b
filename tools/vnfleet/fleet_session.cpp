#include "fleet_session.h"

#include <vector>

#include "image/crc16.h"
#include "image/file_types.h"
#include "image/image_buffer.h"

namespace {
constexpr std::uint32_t DSP_FIRST_PAGE = 1571;
constexpr std::uint32_t DSP_PAGE_LIMIT = 1671;
constexpr std::uint16_t LOGO_FIRST_PAGE = 1555;
constexpr std::uint16_t JAVA_FIRST_PAGE = 1427;
constexpr std::uint16_t HTML_FIRST_PAGE = 1027;

std::uint32_t pagesOf(std::uint32_t bytes)
{
    return bytes / PAGE_SIZE + (bytes % PAGE_SIZE != 0 ? 1 : 0);
}

std::uint16_t spanCrc(const ImageView& image, std::uint32_t base, std::uint32_t span)
{
    std::vector<std::uint8_t> bytes(span);
    copyImageBytes(bytes.data(), image.bytes, image.length, base, span);
    return updateCrc16(bytes.data(), span);
}

void fillPacket(DeviceSession* s)
{
    s->pageCount = s->plan.endPage - s->startPage;
    if (s->pageCount > PAGES_PER_PACKET)
        s->pageCount = PAGES_PER_PACKET;
    s->packetLength =
        fillCodeUpdatePacket(s->packet, s->pageCount, s->headerBytes, s->image.bytes,
                             s->image.length, static_cast<std::uint64_t>(s->plan.base) + s->imageOffset);
}

void buildFinish(DeviceSession* s)
{
    s->finishing = true;
    s->packetLength = makeFinishPacket(
        s->packet, static_cast<std::uint8_t>(s->image.fileType + 7),
        s->image.packaged ? FLAG_ENCRYPTED : s->flags, s->plan.firstPage, s->plan.endPage,
        s->plan.crc);
}

// The refusals that end a device's run, in VNloader's words.
const char* fatalNackWords(std::uint8_t reason)
{
    switch (reason) {
    case NACK_WRONG_PASSWORD: return "You entered the wrong Set Password";
    case NACK_BAD_CRC: return "Received bad CRC, exiting";
    case NACK_BAD_VERSION: return "Received bad version, exiting";
    default: return nullptr;
    }
}

// An ACK for a packet this device has already had acknowledged.
bool alreadyAcknowledged(const DeviceSession& s, std::uint16_t page)
{
    return page >= s.plan.firstPage && page < s.startPage &&
           (page - s.plan.firstPage) % PAGES_PER_PACKET == 0;
}

SessionStep fail(DeviceSession* s, const std::string& why)
{
    s->failure = why;
    return STEP_DONE;
}
}  // namespace

bool planTransfer(const ImageView& image, TransferPlan* plan, std::string* reason)
{
    std::uint32_t nMin = image.nMinHexAddress;
    std::uint32_t nMax = image.nMaxHexAddress;
    if (image.packaged) {
        nMin = 0;
    } else if (nMax < nMin) {
        *reason = "Nothing to send: the file holds no image data";
        return false;
    } else if (image.fileType == TYPE_DSP_HEX) {
        nMax = nMax * 2 + 4;  // word bounds to bytes, and the word image's header
        nMin *= 2;
    }
    plan->base = nMin;
    plan->size = nMax - nMin;
    std::uint32_t pages = 0;
    switch (image.fileType) {
    case TYPE_DSP_HEX: {
        std::uint32_t dspLastPage = plan->size / PAGE_SIZE + DSP_FIRST_PAGE + 1;
        if (dspLastPage > DSP_PAGE_LIMIT) {
            *reason = "DSP code size exceeds allotment. dspLastPage:" + std::to_string(dspLastPage);
            return false;
        }
        plan->firstPage = DSP_FIRST_PAGE;
        plan->endPage = static_cast<std::uint16_t>(dspLastPage);
        break;
    }
    case TYPE_MAIN_HEX:
    case TYPE_JAVA:
        if (image.packaged && plan->size < PAGE_HEADER_SIZE) {
            *reason = "Nothing to send: the file holds no image data";
            return false;
        }
        pages = pagesOf(image.packaged ? plan->size - PAGE_HEADER_SIZE : plan->size);
        plan->firstPage = image.fileType == TYPE_MAIN_HEX ? 0 : JAVA_FIRST_PAGE;
        plan->endPage = static_cast<std::uint16_t>(plan->firstPage + pages);
        break;
    case TYPE_LOGO:
        plan->firstPage = LOGO_FIRST_PAGE;
        plan->endPage = static_cast<std::uint16_t>(DSP_FIRST_PAGE);
        break;
    case TYPE_HTML:
        plan->firstPage = HTML_FIRST_PAGE;
        plan->endPage = JAVA_FIRST_PAGE;
        break;
    default:
        *reason = "Unknown file type";
        return false;
    }
    plan->crc = spanCrc(image, plan->base,
                        static_cast<std::uint32_t>(plan->endPage - plan->firstPage) * PAGE_SIZE);
    return true;
}

int packetsOf(const TransferPlan& plan)
{
    return (plan.endPage - plan.firstPage + PAGES_PER_PACKET - 1) / PAGES_PER_PACKET;
}

void startSession(DeviceSession* s, const ImageView& image, const TransferPlan& plan,
                  const std::string& password, bool partialEncrypt)
{
    s->image = image;
    s->plan = plan;
    s->partialEncrypt = partialEncrypt;
    s->flags = image.packaged ? FLAG_PAGE_HEADER | FLAG_ENCRYPTED : 0x00;
    s->headerBytes = image.packaged ? static_cast<int>(PAGE_HEADER_SIZE) : 0;
    s->startPage = plan.firstPage;
    s->imageOffset = 0;
    s->finishing = false;
    s->completed = false;
    s->failure.clear();
    s->pagesAcknowledged = 0;
    for (std::uint8_t& b : s->packet)
        b = 0;
    startCodeUpdatePacket(s->packet, s->flags, s->startPage, password.c_str());
    if (s->startPage < plan.endPage)
        fillPacket(s);
    else
        buildFinish(s);
}

SessionStep sessionReply(DeviceSession* s, const std::uint8_t* datagram, int length)
{
    if (length != REPLY_LENGTH)
        return STEP_RESEND;
    ReplyFields answer = readReply(datagram);
    if (answer.replyCode == TFTP_ACK && alreadyAcknowledged(*s, answer.replyPage) &&
        !(s->finishing && answer.replyPage == 0))
        return STEP_KEEP_WAITING;
    if (answer.replyCode == TFTP_NACK) {
        if (const char* words = fatalNackWords(answer.nackReason))
            return fail(s, words);
        if (s->finishing)
            return fail(s, "Received a NACK from packet " + std::to_string(answer.replyPage));
        return STEP_RESEND;
    }
    if (s->finishing) {
        // The device's answer to the finish packet is the verdict.
        if (answer.replyCode != TFTP_ACK || answer.replyPage != 0)
            return STEP_RESEND;
        s->completed = true;
        return STEP_DONE;
    }
    if (answer.replyCode != TFTP_ACK || answer.replyPage != s->startPage)
        return STEP_RESEND;
    s->pagesAcknowledged += static_cast<std::uint32_t>(s->pageCount);
    s->startPage = static_cast<std::uint16_t>(s->startPage + s->pageCount);
    s->imageOffset += static_cast<std::uint32_t>(s->headerBytes) + PAGE_SIZE * s->pageCount;
    s->headerBytes = 0;
    s->flags &= FLAG_ENCRYPTED;
    if (s->partialEncrypt)
        s->flags = 0x00;
    s->packet[OFF_FLAGS] = s->flags;
    putU16(s->packet + OFF_START_PAGE, s->startPage);
    if (s->startPage < s->plan.endPage)
        fillPacket(s);
    else
        buildFinish(s);
    return STEP_NEXT;
}
