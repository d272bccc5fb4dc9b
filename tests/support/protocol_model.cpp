#include "protocol_model.h"

#include <cstring>
#include <utility>

namespace {
// The protocol's numbers, written out here rather than taken from the code
// under test.
constexpr int CODE_UPDATE = 5;
constexpr int FINISH = 6;
constexpr int ACK = 1;
constexpr int NACK = 2;
constexpr int REPLY = 23;
constexpr int CODE_UPDATE_LENGTH = 1047;
constexpr int FINISH_LENGTH = 29;
constexpr int PAGE_HEADER = 8;

int u16(const std::uint8_t* at)
{
    return at[0] | at[1] << 8;
}
}  // namespace

std::vector<std::uint8_t> replyDatagram(std::uint8_t code, std::uint8_t reason, int page)
{
    std::vector<std::uint8_t> d(REPLY, 0);
    d[0] = code;
    d[1] = reason;
    d[3] = static_cast<std::uint8_t>(page & 0xFF);
    d[4] = static_cast<std::uint8_t>((page >> 8) & 0xFF);
    return d;
}

std::string ProtocolModel::checkSend(const std::uint8_t* d, int length)
{
    if (hasEnded)
        return "sent after the answer that ends the transfer";
    if (next == Next::NOTHING)
        return "sent again without waiting for an answer";
    if (length < REPLY)
        return "a datagram shorter than a packet header";
    char field[16] = {};
    for (std::size_t i = 0; i < sizeof field && image.password[i] != '\0'; ++i)
        field[i] = image.password[i];
    if (std::memcmp(d + 5, field, sizeof field) != 0 || u16(d + 21) != 16)
        return "password field or fixed word";
    if (d[0] == CODE_UPDATE && u16(d + 3) == 0)
        ++pageZeroSends;
    const std::string sent(reinterpret_cast<const char*>(d), static_cast<std::size_t>(length));
    if (next == Next::SAME) {
        behind = true;
        next = Next::NOTHING;
        return sent == last ? "" : "moved on without an acknowledgement, or a resend that differs";
    }
    last = sent;
    const std::string wrong = checkNewPacket(d, length);
    next = Next::NOTHING;
    return wrong;
}

std::string ProtocolModel::checkNewPacket(const std::uint8_t* d, int length)
{
    const bool first = next == Next::FIRST;
    const int start = first ? image.firstPage : outstandingPage + pageCount;
    if (start >= image.endPage) {
        if (d[0] != FINISH || length != FINISH_LENGTH)
            return "no finish packet after the last page";
        if (!drained)
            return "finish packet sent without dropping the answers queued before it";
        if (d[1] != image.fileType + 7 || d[2] != (image.packaged ? 0x01 : 0x00) || u16(d + 3) != 0)
            return "finish type, flags or number";
        if (u16(d + 23) != image.firstPage || u16(d + 25) != image.endPage)
            return "finish page range";
        finishing = true;
        outstandingPage = 0;
        return "";
    }
    if (d[0] != CODE_UPDATE || u16(d + 3) != start)
        return "packet out of order: wanted page " + std::to_string(start);
    const int count = image.endPage - start < 4 ? image.endPage - start : 4;
    const bool headerFirst = image.packaged && start == image.firstPage;
    if (d[1] != count || length != CODE_UPDATE_LENGTH + (headerFirst ? PAGE_HEADER : 0))
        return "page count or length of page " + std::to_string(start);
    int flags = 0;
    if (image.packaged)
        flags = start == image.firstPage ? 0x81 : (image.partialEncrypt ? 0x00 : 0x01);
    if (d[2] != flags)
        return "flags of page " + std::to_string(start);
    outstandingPage = start;
    pageCount = count;
    return "";
}

// After a resend, a late ACK of one of the code-update packets (page 0 is
// also the finish packet's own number) does not answer the finish packet.
bool ProtocolModel::lateCodeUpdateAck(int replyCode, int page) const
{
    return behind && replyCode == ACK && page != 0 && page >= image.firstPage &&
           page < image.endPage && (page - image.firstPage) % 4 == 0;
}

void ProtocolModel::judge(const std::uint8_t* datagram, std::size_t length)
{
    const bool usable = datagram != nullptr && length == REPLY;
    // What the transfer reports of an unusable one: a shorter one as none.
    const int reported = datagram != nullptr && length > REPLY ? static_cast<int>(length) : 0;
    const int code = usable ? datagram[0] : -1;
    const int reason = usable ? datagram[1] : -1;
    const int page = usable ? u16(datagram + 3) : -1;
    const bool nack = code == NACK;
    if (nack && reason == 4)
        return finish(-1, -1, "You entered the wrong Set Password\n");
    if (nack && reason == 6)
        return finish(-1, 0, "Received bad CRC, exiting\n");
    if (nack && reason == 8)
        return finish(-1, 0, "Received bad version, exiting\n");
    if (finishing) {
        if (held && !nack)
            return;  // only a NACK or the wait's end decides
        if (lateCodeUpdateAck(code, page))
            return;  // the wait goes on
        // Once packet 0 went out twice, an ACK 0 may be its late copy.
        if (usable && code == ACK && page == 0 && pageZeroSends > 1) {
            held = true;
            return;
        }
        // The finish packet goes out once: its one answer ends the run.
        if (!usable)
            return finish(-1, 0,
                          "Wrong receive length from Code Update Packet 0 wanted 23, got " +
                              std::to_string(reported) + "\n");
        if (nack)
            return finish(-1, 0, "Received a NACK from packet " + std::to_string(page) + "\n");
        return finish(1, 1, "File Transfered\n");
    }
    next = usable && code == ACK && page == outstandingPage ? Next::FOLLOWING : Next::SAME;
}

void ProtocolModel::waitEnded()
{
    if (finishing && held && !hasEnded)
        return finish(1, 1, "File Transfered\n");
    judge(nullptr, 0);
}

std::string ProtocolModel::checkDrain()
{
    drained = true;
    const int start = next == Next::FIRST ? image.firstPage : outstandingPage + pageCount;
    const bool lastAcknowledged = next == Next::FIRST || next == Next::FOLLOWING;
    if (hasEnded || finishing || !lastAcknowledged || start < image.endPage)
        return "drained before the last packet was acknowledged";
    return "";
}

void ProtocolModel::sendFailed()
{
    finish(0, 1, "transferFile sendto error\n");
}

void ProtocolModel::finish(int result, int status, std::string lastLine)
{
    hasEnded = true;
    ending = ModelEnd{result, status, std::move(lastLine)};
}
