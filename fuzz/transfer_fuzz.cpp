// transferFile against a device whose answers are the fuzz input. The first
// four bytes choose the image (packaged or plain, type, size, lower bound,
// partial encryption); every further record is one answer to one wait.
// The harness follows the protocol beside the transfer and checks each
// datagram sent: packets in order and inside the page range, a new packet
// only after the last one was acknowledged, a resend byte for byte the same,
// the right payload, flags and finish packet, and the documented outcome.
// When the answers run out the device stays silent and the next send fails,
// which ends the transfer (it would otherwise resend for ever).
#include <cstring>
#include <vector>

#include "app/settings.h"
#include "fuzz_support.h"
#include "image/crc16.h"
#include "image/image_buffer.h"
#include "link/packets.h"
#include "app/update_transfer.h"
#include "protocol_model.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

const char PASSWORD[] = "fuzz-password-longer-than-16";

struct Outcome {
    int result;
    int status;
};

struct Answer {
    enum Kind { Timeout, WaitFailed, ReceiveFailed, Datagram } kind;
    Bytes datagram;
};

struct Model {
    // The image as the transfer must see it.
    bool packaged = false;
    bool partialEncrypt = false;
    int fileType = 0;
    std::uint32_t base = 0;
    bool refused = false;
    Outcome refusal{};
    int firstPage = 0;
    int endPage = 0;

    // Answers still to give.
    const std::uint8_t* input = nullptr;
    std::size_t left = 0;
    bool drained = false;
    Answer answer{};

    // The exchange, followed beside the transfer.
    ProtocolModel* protocol = nullptr;
    bool sentAny = false;
};

Model model;

std::uint8_t take()
{
    if (model.left == 0)
        return 0;
    --model.left;
    return *model.input++;
}

void fillPattern()
{
    for (std::uint32_t i = 0; i < IMAGE_BUFFER_SIZE; ++i)
        imageBuffer[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8) * 3 + 1);
}

// count image bytes from `from`, zero past the buffer, in one buffer for the
// whole run (allocations are slow under ASan).
const std::uint8_t* imageBytes(std::uint64_t from, std::uint32_t count)
{
    static std::uint8_t bytes[IMAGE_BUFFER_SIZE + PAYLOAD_SIZE + PAGE_HEADER_SIZE];
    FUZZ_CHECK(count <= sizeof bytes);
    std::uint32_t inside = 0;
    if (from < IMAGE_BUFFER_SIZE) {
        inside = static_cast<std::uint32_t>(IMAGE_BUFFER_SIZE - from);
        inside = inside < count ? inside : count;
        if (inside == count)
            return imageBuffer + from;
        std::memcpy(bytes, imageBuffer + from, inside);
    }
    std::memset(bytes + inside, 0, count - inside);
    return bytes;
}

std::uint32_t pagesOf(std::uint32_t bytes)
{
    return (bytes + PAGE_SIZE - 1) / PAGE_SIZE;
}

// The page range the transfer must take, or the refusal it must give.
void predictRange(std::uint32_t minAddress, std::uint32_t maxAddress)
{
    auto refuse = [](int status) {
        model.refused = true;
        model.refusal = Outcome{TRANSFER_REFUSED, status};
    };
    if (!model.packaged && maxAddress < minAddress)
        return refuse(1);
    if (!model.packaged && model.fileType == TYPE_DSP_HEX) {
        minAddress *= 2;
        maxAddress = maxAddress * 2 + 4;
    }
    model.base = model.packaged ? 0 : minAddress;
    const std::uint32_t s = maxAddress - (model.packaged ? 0 : minAddress);
    if (model.fileType == TYPE_DSP_HEX) {
        const std::uint32_t dspLastPage = s / PAGE_SIZE + 1572;
        if (dspLastPage > 1671)
            return refuse(0);
        model.firstPage = 1571;
        model.endPage = static_cast<int>(dspLastPage);
        return;
    }
    const bool counted = model.fileType == TYPE_MAIN_HEX || model.fileType == TYPE_JAVA;
    if (counted && model.packaged && s < PAGE_HEADER_SIZE)
        return refuse(1);
    const int pages = model.packaged && s < PAGE_HEADER_SIZE
                          ? 0
                          : static_cast<int>(pagesOf(model.packaged ? s - PAGE_HEADER_SIZE : s));
    // An image never runs past the pages its type owns.
    const int owned = model.fileType == TYPE_LOGO ? 16 : model.fileType == TYPE_JAVA ? 128
                      : model.fileType == TYPE_HTML ? 400 : 1027;
    if (pages > owned)
        return refuse(0);
    switch (model.fileType) {
    case TYPE_MAIN_HEX: model.firstPage = 0; model.endPage = pages; return;
    case TYPE_LOGO: model.firstPage = 1555; model.endPage = 1571; return;
    case TYPE_JAVA: model.firstPage = 1427; model.endPage = 1427 + pages; return;
    case TYPE_HTML: model.firstPage = 1027; model.endPage = 1427; return;
    default: return refuse(-1);
    }
}

// What the protocol model leaves to the fuzzer: the payload and the CRC.
void checkImageBytes(const std::uint8_t* d, int length)
{
    const ProtocolModel& protocol = *model.protocol;
    if (protocol.finishSent()) {
        const std::uint32_t span = static_cast<std::uint32_t>(model.endPage - model.firstPage) * 256;
        FUZZ_CHECK(getU16(d + OFF_IMAGE_CRC) == updateCrc16(imageBytes(model.base, span), span));
        return;
    }
    // Packets tile the image: the page header rides in front of page 0.
    const bool first = protocol.isFirstPacket();
    const int headerBytes = model.packaged && first ? 8 : 0;
    const std::uint64_t index = static_cast<std::uint64_t>(protocol.outstanding() - model.firstPage);
    const std::uint64_t offset = index * PAGE_SIZE + (model.packaged && !first ? 8 : 0);
    const std::uint32_t payloadSize = PAYLOAD_SIZE + headerBytes;
    FUZZ_CHECK(length == CODE_UPDATE_SIZE + headerBytes);
    FUZZ_CHECK(std::memcmp(d + OFF_PAYLOAD, imageBytes(model.base + offset, payloadSize),
                           payloadSize) == 0);
}

int fakeSend(void*, const std::uint8_t* data, int length)
{
    FUZZ_CHECK(!model.refused);
    model.sentAny = true;
    const std::string wrong = model.protocol->checkSend(data, length);
    if (!wrong.empty()) {
        std::fprintf(stderr, "transfer fault: %s\n", wrong.c_str());
        FUZZ_CHECK(wrong.empty());
    }
    checkImageBytes(data, length);
    if (model.drained) {
        model.protocol->sendFailed();
        return -1;
    }
    return length;
}

int fakeDrain(void*)
{
    FUZZ_CHECK(model.protocol->checkDrain().empty());
    return 0;
}

Bytes rawDatagram(std::size_t length)
{
    Bytes d(length, 0);
    for (std::size_t i = 0; i < length && model.left > 0; ++i)
        d[i] = take();
    return d;
}

// The next answer from the input, built around the outstanding packet so
// that plain bytes can walk a transfer to its end.
Answer nextAnswer()
{
    const std::uint8_t op = take();
    switch (op % 12) {
    case 0: return {Answer::Timeout, {}};
    case 1: return {Answer::WaitFailed, {}};
    case 2: return {Answer::ReceiveFailed, {}};
    case 4: return {Answer::Datagram, replyDatagram(TFTP_ACK, 0, model.protocol->outstanding() +
                                                          static_cast<std::int8_t>(take()))};
    case 5: return {Answer::Datagram, replyDatagram(TFTP_NACK, take(), model.protocol->outstanding())};
    case 6: return {Answer::Datagram, rawDatagram(REPLY_LENGTH)};
    case 7: return {Answer::Datagram, rawDatagram(take() % REPLY_LENGTH)};
    case 8: return {Answer::Datagram, rawDatagram(REPLY_LENGTH + 1 + take() * 8u)};
    case 9: {
        const std::uint8_t code = take();
        return {Answer::Datagram, replyDatagram(code, take(), model.protocol->outstanding())};
    }
    case 10: {
        const std::uint8_t low = take();
        return {Answer::Datagram, replyDatagram(TFTP_ACK, 0, low | take() << 8)};
    }
    default: return {Answer::Datagram, replyDatagram(TFTP_ACK, 0, model.protocol->outstanding())};
    }
}

int fakeWait(void*, int)
{
    FUZZ_CHECK(!model.protocol->ended());
    if (model.left == 0) {
        model.drained = true;
        model.protocol->waitEnded();
        return 0;
    }
    model.answer = nextAnswer();
    if (model.answer.kind == Answer::Timeout || model.answer.kind == Answer::WaitFailed) {
        model.protocol->waitEnded();
        return model.answer.kind == Answer::Timeout ? 0 : -1;
    }
    return 1;
}

int fakeReceive(void*, std::uint8_t* buffer, int size)
{
    const Bytes& d = model.answer.datagram;
    if (model.answer.kind == Answer::ReceiveFailed) {
        model.protocol->judge(nullptr, 0);
        return -1;
    }
    // A datagram longer than the buffer is a failed receive, as on a socket.
    const std::size_t copied = d.size() < static_cast<std::size_t>(size) ? d.size() : size;
    if (copied != 0)
        std::memcpy(buffer, d.data(), copied);
    if (d.size() > static_cast<std::size_t>(size)) {
        model.protocol->judge(nullptr, 0);
        return -1;
    }
    model.protocol->judge(d.data(), d.size());
    return static_cast<int>(d.size());
}

const int TYPES[8] = {TYPE_MAIN_HEX, TYPE_DSP_HEX, TYPE_LOGO, TYPE_JAVA,
                      TYPE_HTML,     1,            7,         TYPE_MAIN_HEX};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool filled = (fillPattern(), true);
    (void)filled;
    if (size < 4)
        return 0;
    model = Model{};
    model.packaged = data[0] & 1;
    model.partialEncrypt = data[0] & 2;
    model.fileType = TYPES[(data[0] >> 2) & 7];
    const std::uint32_t value = data[1] | data[2] << 8;
    std::uint32_t minAddress = 0;
    std::uint32_t maxAddress = 0;
    if (model.packaged) {
        minAddress = data[3];  // a package body sits at 0 whatever its header says
        maxAddress = model.fileType == TYPE_DSP_HEX ? value : value % 6000;
    } else if (value == 0xFFFF) {
        minAddress = IMAGE_BUFFER_SIZE;  // an Intel HEX file without data records
    } else if (model.fileType == TYPE_MAIN_HEX) {
        // 0xFF: an image ending past the buffer, whose last payload is cut.
        minAddress = data[3] == 0xFF ? IMAGE_BUFFER_SIZE - 100 : data[3] * 64u;
        maxAddress = minAddress + value % 6000;
    } else if (model.fileType == TYPE_DSP_HEX) {
        minAddress = data[3] * 8u;  // word addresses
        maxAddress = minAddress + value % 14000;
    } else {
        maxAddress = value % 6000;
    }
    model.input = data + 4;
    model.left = size - 4;
    predictRange(minAddress, maxAddress);

    fuzz::quietConsole();
    resetSettings();
    std::strcpy(settings.setPassword, PASSWORD);
    std::strcpy(settings.fileName, "fuzz.img");
    settings.packagedInput = model.packaged ? 1 : 0;
    settings.partialEncrypt = model.partialEncrypt ? 1 : 0;
    settings.fileType = static_cast<std::uint8_t>(model.fileType);
    nMinHexAddress = minAddress;
    nMaxHexAddress = maxAddress;

    ProtocolModel protocol(ModelImage{model.packaged, model.partialEncrypt, model.fileType,
                                      model.firstPage, model.endPage, PASSWORD});
    model.protocol = &protocol;
    // A whole wait: with an answer held only a wait's end completes the transfer.
    UpdateLink link{nullptr, fakeSend, fakeWait, fakeReceive, REPLY_TIMEOUT_MS, fakeDrain};
    const TransferOutcome got = transferFile(&link, model.fileType);

    FUZZ_CHECK(model.refused || protocol.ended());
    const Outcome want =
        model.refused ? model.refusal : Outcome{protocol.end().result, protocol.end().status};
    FUZZ_CHECK(got.result == want.result && got.exitStatus == want.status);
    if (model.refused)
        FUZZ_CHECK(!model.sentAny);
    return 0;
}
