#include "link/transfer.h"

#include <cstring>
#include <vector>

#include "app/loaders.h"
#include "app/settings.h"
#include "diag/console.h"
#include "diag/log.h"
#include "image/crc16.h"
#include "image/hex_reader.h"
#include "image/image_buffer.h"
#include "link/packets.h"

namespace {
constexpr std::uint32_t DSP_FIRST_PAGE = 1571;
constexpr std::uint32_t DSP_PAGE_LIMIT = 1671;  // highest dspLastPage accepted
constexpr std::uint16_t LOGO_FIRST_PAGE = 1555;
constexpr std::uint16_t JAVA_FIRST_PAGE = 1427;
constexpr std::uint16_t HTML_FIRST_PAGE = 1027;

struct PageRange {
    std::uint16_t firstPage;
    std::uint16_t endPage;
};

std::uint32_t pagesOf(std::uint32_t bytes)
{
    return bytes / PAGE_SIZE + (bytes % PAGE_SIZE != 0 ? 1 : 0);
}

TransferOutcome mustEnd(int status)
{
    return TransferOutcome{TRANSFER_MUST_END, status};
}

void reportNoImage()
{
    consolePrint("Nothing to send: %s holds no image data\n", settings.fileName);
}

// Where the image starts in imageBuffer and how long it is. A package body
// always sits at offset 0, whatever its header's lower bound says.
bool imageExtent(int fileType, bool packaged, std::uint32_t* base, std::uint32_t* size)
{
    if (packaged) {
        *base = 0;
        *size = nMaxHexAddress;
        return true;
    }
    if (nMaxHexAddress < nMinHexAddress)  // a HEX file without data records
        return false;
    if (fileType == TYPE_DSP_HEX) {
        // Word addresses to byte offsets; the word image has a 4-byte header.
        nMaxHexAddress *= 2;
        nMinHexAddress *= 2;
        nMaxHexAddress += 4;
    }
    *base = nMinHexAddress;
    *size = nMaxHexAddress - nMinHexAddress;
    return true;
}

// The device's page range for the image; false with *outcome set when the
// transfer cannot go on.
bool pageRange(int fileType, bool packaged, std::uint32_t size, PageRange* range,
               TransferOutcome* outcome)
{
    if (fileType == TYPE_DSP_HEX) {
        std::uint32_t dspLastPage = size / PAGE_SIZE + DSP_FIRST_PAGE + 1;
        if (dspLastPage > DSP_PAGE_LIMIT) {
            consolePrint("DSP code size exceeds allotment. dspLastPage:%d\n",
                         static_cast<int>(dspLastPage));
            *outcome = mustEnd(0);
            return false;
        }
        *range = PageRange{static_cast<std::uint16_t>(DSP_FIRST_PAGE),
                           static_cast<std::uint16_t>(dspLastPage)};
        return true;
    }
    if ((fileType == TYPE_MAIN_HEX || fileType == TYPE_JAVA) && packaged &&
        size < PAGE_HEADER_SIZE) {
        reportNoImage();
        *outcome = mustEnd(1);
        return false;
    }
    // The page header of a package travels in front of the first page.
    std::uint32_t pages = pagesOf(packaged ? size - PAGE_HEADER_SIZE : size);
    switch (fileType) {
    case TYPE_MAIN_HEX:
        *range = PageRange{0, static_cast<std::uint16_t>(pages)};
        return true;
    case TYPE_LOGO:
        *range = PageRange{LOGO_FIRST_PAGE, static_cast<std::uint16_t>(DSP_FIRST_PAGE)};
        return true;
    case TYPE_JAVA:
        *range = PageRange{JAVA_FIRST_PAGE, static_cast<std::uint16_t>(JAVA_FIRST_PAGE + pages)};
        return true;
    case TYPE_HTML:
        *range = PageRange{HTML_FIRST_PAGE, JAVA_FIRST_PAGE};
        return true;
    default:
        consolePrint("Unknown file type\n");
        *outcome = mustEnd(-1);
        return false;
    }
}

// CRC of span image bytes from base; bytes past the buffer count as 0.
std::uint16_t imageCrc(std::uint32_t base, std::uint32_t span)
{
    if (base <= IMAGE_BUFFER_SIZE && span <= IMAGE_BUFFER_SIZE - base)
        return updateCrc16(imageBuffer + base, span);
    std::vector<std::uint8_t> padded(span);
    copyImageBytes(padded.data(), imageBuffer, IMAGE_BUFFER_SIZE, base, span);
    return updateCrc16(padded.data(), span);
}

// The refusals that end the run, whichever packet they answer.
bool fatalNack(std::uint8_t reason, TransferOutcome* outcome)
{
    switch (reason) {
    case NACK_WRONG_PASSWORD:
        consolePrint("You entered the wrong Set Password\n");
        *outcome = mustEnd(-1);
        return true;
    case NACK_BAD_CRC:
        consolePrint("Received bad CRC, exiting\n");
        *outcome = mustEnd(0);
        return true;
    case NACK_BAD_VERSION:
        consolePrint("Received bad version, exiting\n");
        *outcome = mustEnd(0);
        return true;
    default:
        return false;
    }
}

void reportWrongLength(std::uint16_t packet, int length)
{
    consolePrint("Wrong receive length from Code Update Packet %d wanted %d, got %d\n",
                 static_cast<int>(packet), REPLY_LENGTH, length);
}

bool sendPacket(const UpdateLink* link, const std::uint8_t* packet, int length)
{
    if (link->send(link->context, packet, length) < 0) {
        logMessage("transferFile sendto error");
        return false;
    }
    return true;
}
}  // namespace

int receiveReply(const UpdateLink* link, std::uint8_t* buffer, int size)
{
    int ready = link->wait(link->context, link->replyTimeoutMs);
    if (ready < 0) {
        logMessage("WAIT_FAILED retransmitting packet\n");
        return 0;
    }
    if (ready == 0) {
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

TransferOutcome transferFile(const UpdateLink* link, int fileType)
{
    const bool packaged = settings.packagedInput != 0;
    std::uint32_t base = 0;
    std::uint32_t size = 0;
    if (!imageExtent(fileType, packaged, &base, &size)) {
        reportNoImage();
        return mustEnd(1);
    }
    PageRange range{};
    TransferOutcome outcome{};
    if (!pageRange(fileType, packaged, size, &range, &outcome))
        return outcome;

    std::uint8_t packet[PACKET_BUFFER_SIZE] = {};
    std::uint8_t reply[PACKET_BUFFER_SIZE];
    std::uint8_t flags = packaged ? FLAG_PAGE_HEADER | FLAG_ENCRYPTED : 0x00;
    int headerBytes = packaged ? static_cast<int>(PAGE_HEADER_SIZE) : 0;
    std::uint16_t startPage = range.firstPage;
    std::uint32_t imageOffset = 0;
    startCodeUpdatePacket(packet, flags, startPage, settings.setPassword);

    while (startPage < range.endPage) {
        int pageCount = range.endPage - startPage;
        if (pageCount > PAGES_PER_PACKET)
            pageCount = PAGES_PER_PACKET;
        int length = fillCodeUpdatePacket(packet, pageCount, headerBytes, imageBuffer,
                                          IMAGE_BUFFER_SIZE,
                                          static_cast<std::uint64_t>(base) + imageOffset);
        consolePrint("Sending Code Update pages %d to %d\n", static_cast<int>(startPage),
                     startPage + pageCount - 1);
        if (!sendPacket(link, packet, length))
            return TransferOutcome{TRANSFER_SEND_FAILED, 1};

        // Every case but an acknowledgement sends the same packet again.
        int received = receiveReply(link, reply, PACKET_BUFFER_SIZE);
        if (received == 0)
            continue;
        if (received != REPLY_LENGTH) {
            reportWrongLength(startPage, received);
            continue;
        }
        ReplyFields answer = readReply(reply);
        if (answer.replyCode == TFTP_NACK) {
            if (fatalNack(answer.nackReason, &outcome))
                return outcome;
            consolePrint("Received a NACK from packet %d\n", static_cast<int>(answer.replyPage));
            continue;
        }
        if (answer.replyCode != TFTP_ACK) {
            consolePrint("Did not get the correct command expected TFTP_ACK(%d), got %d\n",
                         static_cast<int>(TFTP_ACK), static_cast<int>(answer.replyCode));
            continue;
        }
        if (answer.replyPage != startPage) {
            consolePrint("Received ACK from wrong packet. Wanted packet %d, got packet %d\n",
                         static_cast<int>(startPage), static_cast<int>(answer.replyPage));
            continue;
        }
        startPage = static_cast<std::uint16_t>(startPage + pageCount);
        imageOffset += static_cast<std::uint32_t>(headerBytes) + PAGE_SIZE * pageCount;
        headerBytes = 0;
        // Only the first packet carries the page header; later ones are
        // enciphered only when the whole package is.
        flags &= FLAG_ENCRYPTED;
        if (settings.partialEncrypt)
            flags = 0x00;
        packet[OFF_FLAGS] = flags;
        putU16(packet + OFF_START_PAGE, startPage);
    }

    std::uint32_t span = static_cast<std::uint32_t>(range.endPage - range.firstPage) * PAGE_SIZE;
    int length = makeFinishPacket(packet, static_cast<std::uint8_t>(fileType + 7),
                                  packaged ? FLAG_ENCRYPTED : flags, range.firstPage,
                                  range.endPage, imageCrc(base, span));
    if (!sendPacket(link, packet, length))
        return TransferOutcome{TRANSFER_SEND_FAILED, 1};

    // The finish packet goes out once: no usable answer ends the run.
    int received = receiveReply(link, reply, PACKET_BUFFER_SIZE);
    if (received != REPLY_LENGTH) {
        reportWrongLength(getU16(packet + OFF_START_PAGE), received);
        return mustEnd(0);
    }
    ReplyFields answer = readReply(reply);
    if (answer.replyCode == TFTP_NACK) {
        if (fatalNack(answer.nackReason, &outcome))
            return outcome;
        consolePrint("Received a NACK from packet %d\n", static_cast<int>(answer.replyPage));
        return mustEnd(0);
    }
    consolePrint("File Transfered\n");
    return TransferOutcome{TRANSFER_COMPLETED, 1};
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
