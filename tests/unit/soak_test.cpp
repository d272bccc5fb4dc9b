// Fault soak of the update transfer: many transfers of random images of every
// type, packaged and plain, to an emulated device behind a transport that
// loses, repeats, delays and garbles datagrams by a seeded random plan. Each
// transfer must leave the device holding exactly the image, or end with the
// message and status that the fault it met calls for; it must never move on
// without the right acknowledgement and never hang.
//
// VN_SOAK_RUNS sets the number of transfers (default 300, kept short for the
// sanitizer and Wine legs); VN_SOAK_SEED moves the seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/settings.h"
#include "diag/console_capture.h"
#include "diag/log.h"
#include "image/crc16.h"
#include "image/image_buffer.h"
#include "link/packets.h"
#include "protocol_model.h"
#include "app/update_transfer.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

const char PASSWORD[] = "soak-password-0123456789";

struct Rng {
    std::mt19937 engine;
    explicit Rng(std::uint32_t seed) : engine(seed) {}
    // Uniform in [low, high]; plain modulo keeps runs alike on every library.
    std::uint32_t between(std::uint32_t low, std::uint32_t high)
    {
        return low + static_cast<std::uint32_t>(engine() % (std::uint64_t{high} - low + 1));
    }
    bool chance(double p) { return engine() < p * 4294967296.0; }
    Bytes bytes(std::size_t n)
    {
        Bytes b(n);
        for (auto& x : b)
            x = static_cast<std::uint8_t>(engine());
        return b;
    }
};

// --- Images -----------------------------------------------------------------

// What a loader leaves for the transfer, and what the device must end with.
struct Image {
    const char* name;
    bool packaged;
    bool partialEncrypt;
    int fileType;
    std::uint32_t minAddress, maxAddress;  // the bounds as loaded
    std::uint32_t base;                    // first byte the transfer sends
    Bytes loaded;                          // imageBuffer from base
    int firstPage, endPage;
    Bytes pageHeader;  // packaged: the 8 bytes in front of page firstPage
    Bytes pages;       // the bytes the range must hold, zero past the image
};

void addPages(Image& image, std::size_t from)
{
    image.pages.assign(static_cast<std::size_t>(image.endPage - image.firstPage) * PAGE_SIZE, 0);
    for (std::size_t i = 0; i < image.pages.size() && from + i < image.loaded.size(); ++i)
        image.pages[i] = image.loaded[from + i];
}

// A package body: page header and 1 to maxPages pages, as enciphered bytes look.
Image packagedImage(Rng& rng, int fileType, std::uint32_t maxPages)
{
    const std::uint32_t pages = rng.between(1, maxPages);
    Image image{"packaged", true, rng.chance(0.5), fileType, rng.between(0, 0x400), 0, 0,
                rng.bytes(PAGE_HEADER_SIZE + PAGE_SIZE * pages), 0, 0, {}, {}};
    image.maxAddress = static_cast<std::uint32_t>(image.loaded.size());
    const std::uint32_t bodyPages = (image.maxAddress - PAGE_HEADER_SIZE) / PAGE_SIZE;
    switch (fileType) {
    case TYPE_MAIN_HEX: image.firstPage = 0; image.endPage = static_cast<int>(bodyPages); break;
    // One page more than the body fills: the DSP range rounds up by a page.
    case TYPE_DSP_HEX: image.firstPage = 1571; image.endPage = 1572 + static_cast<int>(bodyPages); break;
    case TYPE_LOGO: image.firstPage = 1555; image.endPage = 1571; break;
    case TYPE_JAVA: image.firstPage = 1427; image.endPage = 1427 + static_cast<int>(bodyPages); break;
    default: image.firstPage = 1027; image.endPage = 1427; break;
    }
    image.pageHeader.assign(image.loaded.begin(), image.loaded.begin() + PAGE_HEADER_SIZE);
    addPages(image, PAGE_HEADER_SIZE);
    return image;
}

Image plainImage(Rng& rng, int fileType)
{
    Image image{"plain", false, rng.chance(0.5), fileType, 0, 0, 0, {}, 0, 0, {}, {}};
    switch (fileType) {
    case TYPE_MAIN_HEX: {
        // Intel HEX, byte addresses: records start at 0x20000 at the latest.
        image.minAddress = rng.chance(0.5) ? rng.between(0, 0x400) : rng.between(0, 0x20000);
        const std::uint32_t length = rng.between(1, 0x20020 - image.minAddress);
        image.maxAddress = image.minAddress + length;
        image.base = image.minAddress;
        image.loaded = rng.bytes(length);
        image.endPage = static_cast<int>((length + PAGE_SIZE - 1) / PAGE_SIZE);
        break;
    }
    case TYPE_DSP_HEX: {
        // Word image: header of the word bounds, then the words; 100 pages at most.
        const std::uint32_t words = rng.between(1, (25599 - 4) / 2);
        image.minAddress = rng.between(0, 0x1000);
        image.maxAddress = image.minAddress + words;
        image.base = 2 * image.minAddress;
        image.loaded = {static_cast<std::uint8_t>(image.minAddress),
                        static_cast<std::uint8_t>(image.minAddress >> 8),
                        static_cast<std::uint8_t>(image.maxAddress),
                        static_cast<std::uint8_t>(image.maxAddress >> 8)};
        const Bytes data = rng.bytes(2 * words);
        image.loaded.insert(image.loaded.end(), data.begin(), data.end());
        image.firstPage = 1571;
        image.endPage = 1572 + static_cast<int>(image.loaded.size() / PAGE_SIZE);
        break;
    }
    default: {
        // Raw files: a length prefix but for html.
        const std::uint32_t limit = fileType == TYPE_LOGO ? 16 : fileType == TYPE_JAVA ? 128 : 400;
        const bool prefixed = fileType != TYPE_HTML;
        const std::uint32_t content =
            rng.between(prefixed ? 0 : 1, limit * PAGE_SIZE - (prefixed ? 2 : 0));
        if (prefixed)
            image.loaded = {static_cast<std::uint8_t>(content), static_cast<std::uint8_t>(content >> 8)};
        const Bytes data = rng.bytes(content);
        image.loaded.insert(image.loaded.end(), data.begin(), data.end());
        image.maxAddress = static_cast<std::uint32_t>(image.loaded.size());
        const int pages = static_cast<int>((image.loaded.size() + PAGE_SIZE - 1) / PAGE_SIZE);
        image.firstPage = fileType == TYPE_LOGO ? 1555 : fileType == TYPE_JAVA ? 1427 : 1027;
        image.endPage = fileType == TYPE_LOGO ? 1571 : fileType == TYPE_JAVA ? 1427 + pages : 1427;
        break;
    }
    }
    addPages(image, 0);
    return image;
}

Image randomImage(Rng& rng)
{
    const int fileType = static_cast<int>(rng.between(TYPE_MAIN_HEX, TYPE_HTML));
    if (!rng.chance(0.5))
        return plainImage(rng, fileType);
    const std::uint32_t maxPages[] = {512, 98, 16, 128, 400};
    return packagedImage(rng, fileType, maxPages[fileType - TYPE_MAIN_HEX]);
}

// --- The emulated device and the faulty network -----------------------------

struct Faults {
    double lostRequest, lostReply, duplicate, late, wrongPage, nack, otherCode, shortDatagram,
        longDatagram;
    int fatalAtSend;  // this send is answered by a fatal NACK; -1 none
};

double garbledRate(const Faults& f)
{
    return f.wrongPage + f.nack + f.otherCode + f.shortDatagram + f.longDatagram;
}

// Datagrams the network delivers per packet sent (see network()).
double answersPerSend(const Faults& f)
{
    const double g = garbledRate(f);
    return (1 - f.lostRequest) * (g + (1 - g / 2) * (1 - f.lostReply) * (1 + f.duplicate));
}

Faults randomFaults(Rng& rng, int packets)
{
    Faults f{};
    f.fatalAtSend = -1;
    if (!rng.chance(0.15)) {  // else a clean network
        double* rates[] = {&f.lostRequest, &f.lostReply,     &f.duplicate,
                           &f.late,        &f.wrongPage,     &f.nack,
                           &f.otherCode,   &f.shortDatagram, &f.longDatagram};
        for (double* rate : rates)
            *rate = rng.between(0, 150) / 1000.0;
        // Every answer that is not the one awaited makes the transfer send
        // again, which the device answers again: a duplicate keeps one extra
        // answer in flight for the rest of the run. On a network that adds
        // more datagrams than it loses these pile up without end, so the
        // extras stay within half the losses.
        double* extras[] = {&f.duplicate, &f.wrongPage,     &f.nack,
                            &f.otherCode, &f.shortDatagram, &f.longDatagram};
        const double lossless = (1 - f.lostRequest) * (1 - f.lostReply);
        const double limit = 1 - (1 - lossless) / 2;
        for (int i = 0; i < 8 && answersPerSend(f) > limit; ++i)
            for (double* rate : extras)
                *rate /= 2;
        if (answersPerSend(f) > limit)
            for (double* rate : extras)
                *rate = 0;
        f.fatalAtSend = rng.chance(0.08) ? static_cast<int>(rng.between(0, packets)) : -1;
    }
    return f;
}

// Faults met over the whole soak, to show what it went through.
struct FaultCount {
    unsigned lostRequests = 0, lostReplies = 0, duplicates = 0, late = 0, garbled = 0, fatal = 0;
};
FaultCount faultCount;

struct Queued {
    Bytes datagram;
    int due;  // the first wait that sees it
};

struct Soak {
    Rng* rng = nullptr;
    const Image* image = nullptr;
    Faults faults{};

    // The device.
    std::map<int, Bytes> stored;
    Bytes storedHeader;
    std::string deviceFault;  // what the device found wrong, if anything

    // The network.
    std::deque<Queued> queue;
    int waits = 0;
    int sends = 0;
    int sendLimit = 0;
    Bytes delivered;
    enum { None, Datagram, TooLong } pending = None;

    // The protocol followed beside the transfer.
    ProtocolModel* model = nullptr;
    std::string violation;  // the first thing the transfer did wrong
};

Soak* soak = nullptr;

void violate(const std::string& what)
{
    if (soak->violation.empty())
        soak->violation = what + " (send " + std::to_string(soak->sends) + ")";
}

// The device takes a packet in and answers it; a fault-free answer is an
// acknowledgement of its startPage (0 for the finish packet).
Bytes deviceReceives(const std::uint8_t* d, int length)
{
    const Image& image = *soak->image;
    if (std::memcmp(d + OFF_PASSWORD, PASSWORD, PASSWORD_FIELD_SIZE) != 0 ||
        getU16(d + OFF_FIXED_WORD) != FIXED_WORD)
        soak->deviceFault = "bad header";
    if (d[OFF_OPCODE] == TFTP_CODE_UPDATE) {
        const int start = getU16(d + OFF_START_PAGE);
        const int count = d[OFF_COUNT_OR_TYPE];
        const bool header = d[OFF_FLAGS] & FLAG_PAGE_HEADER;
        if (length != CODE_UPDATE_SIZE + (header ? 8 : 0) || count < 1 || count > 4 ||
            start < image.firstPage || start + count > image.endPage)
            soak->deviceFault = "malformed code-update packet at page " + std::to_string(start);
        const std::uint8_t* pages = d + OFF_PAYLOAD;
        if (header) {
            soak->storedHeader.assign(pages, pages + PAGE_HEADER_SIZE);
            pages += PAGE_HEADER_SIZE;
        }
        for (int i = 0; i < count && i < 4; ++i)
            soak->stored[start + i].assign(pages + i * PAGE_SIZE, pages + (i + 1) * PAGE_SIZE);
        return replyDatagram(TFTP_ACK, 0, start);
    }
    // Finish: every page there and the CRC right, else a bad-CRC refusal.
    Bytes span = image.packaged ? soak->storedHeader : Bytes{};
    for (int page = image.firstPage; page < image.endPage; ++page) {
        auto at = soak->stored.find(page);
        if (at == soak->stored.end()) {
            soak->deviceFault = "finish with page " + std::to_string(page) + " missing";
            return replyDatagram(TFTP_NACK, NACK_BAD_CRC, 0);
        }
        span.insert(span.end(), at->second.begin(), at->second.end());
    }
    span.resize(static_cast<std::size_t>(image.endPage - image.firstPage) * PAGE_SIZE);
    if (length != FINISH_PACKET_SIZE || getU16(d + OFF_FIRST_PAGE) != image.firstPage ||
        getU16(d + OFF_END_PAGE) != image.endPage ||
        getU16(d + OFF_IMAGE_CRC) != updateCrc16(span.data(), static_cast<std::uint32_t>(span.size()))) {
        soak->deviceFault = "finish packet does not match the pages";
        return replyDatagram(TFTP_NACK, NACK_BAD_CRC, 0);
    }
    return replyDatagram(TFTP_ACK, 0, 0);
}

// A garbled answer: never an acknowledgement the transfer may take, now or
// later (wrong pages lie behind the outstanding one or outside the range).
Bytes garbage()
{
    Rng& rng = *soak->rng;
    const Faults& f = soak->faults;
    const double total = garbledRate(f);
    double pick = rng.between(0, 1000000) / 1000000.0 * total;
    if ((pick -= f.wrongPage) < 0) {
        const int outstanding = soak->model->outstanding();
        const bool behind = outstanding > 0 && rng.chance(0.5);
        const int page = behind ? static_cast<int>(rng.between(0, outstanding - 1))
                                : static_cast<int>(rng.between(soak->image->endPage + 1, 0xFFFF));
        return replyDatagram(TFTP_ACK, 0, page);
    }
    if ((pick -= f.nack) < 0) {
        std::uint8_t reason;
        do
            reason = static_cast<std::uint8_t>(rng.between(0, 255));
        while (reason == NACK_WRONG_PASSWORD || reason == NACK_BAD_CRC || reason == NACK_BAD_VERSION);
        return replyDatagram(TFTP_NACK, reason, soak->model->outstanding());
    }
    if ((pick -= f.otherCode) < 0) {
        std::uint8_t code;
        do
            code = static_cast<std::uint8_t>(rng.between(0, 255));
        while (code == TFTP_ACK || code == TFTP_NACK);
        // To a finish packet any 23-byte answer but a NACK completes the run.
        return replyDatagram(code, static_cast<std::uint8_t>(rng.between(0, 255)), soak->model->outstanding());
    }
    // Short and long datagrams: noise, or the awaited acknowledgement cut
    // short or padded, which is still no reply.
    const bool noise = rng.chance(0.5);
    Bytes d = noise ? Bytes{} : replyDatagram(TFTP_ACK, 0, soak->model->outstanding());
    const std::uint32_t length = (pick -= f.shortDatagram) < 0
                                     ? rng.between(0, REPLY_LENGTH - 1)
                                     : rng.between(REPLY_LENGTH + 1, PACKET_BUFFER_SIZE + 50);
    const Bytes fill = rng.bytes(length);
    d.resize(length);
    if (noise)
        d = fill;
    else if (length > REPLY_LENGTH)
        std::copy(fill.begin() + REPLY_LENGTH, fill.end(), d.begin() + REPLY_LENGTH);
    return d;
}

void queueAnswer(Bytes answer, int delay)
{
    soak->queue.push_back(Queued{std::move(answer), soak->waits + delay});
}

void network(const std::uint8_t* data, int length)
{
    Rng& rng = *soak->rng;
    const Faults& f = soak->faults;
    const int sendIndex = soak->sends - 1;
    if (rng.chance(f.lostRequest)) {
        ++faultCount.lostRequests;
        return;
    }
    Bytes answer = deviceReceives(data, length);
    if (sendIndex == soak->faults.fatalAtSend) {
        const std::uint8_t fatal[] = {NACK_WRONG_PASSWORD, NACK_BAD_CRC, NACK_BAD_VERSION};
        answer = replyDatagram(TFTP_NACK, fatal[rng.between(0, 2)], soak->model->outstanding());
        ++faultCount.fatal;
    }
    if (rng.chance(garbledRate(f))) {
        ++faultCount.garbled;
        queueAnswer(garbage(), 0);  // in front of the answer, or instead of it
        if (rng.chance(0.5))
            return;
    }
    if (rng.chance(f.lostReply)) {
        ++faultCount.lostReplies;
        return;
    }
    int delay = 0;
    if (rng.chance(f.late)) {
        ++faultCount.late;
        delay = static_cast<int>(rng.between(1, 3));
    }
    if (rng.chance(f.duplicate)) {
        ++faultCount.duplicates;
        queueAnswer(answer, delay);
    }
    queueAnswer(answer, delay);
}

int soakSend(void*, const std::uint8_t* data, int length)
{
    ++soak->sends;
    if (soak->sends > soak->sendLimit) {
        violate("runaway: no end after " + std::to_string(soak->sendLimit) + " sends");
        return -1;
    }
    const std::string wrong = soak->model->checkSend(data, length);
    if (!wrong.empty())
        violate(wrong);
    network(data, length);
    return length;
}

int soakWait(void*, int)
{
    const int now = soak->waits++;
    for (auto at = soak->queue.begin(); at != soak->queue.end(); ++at) {
        if (at->due <= now) {
            soak->delivered = std::move(at->datagram);
            soak->queue.erase(at);
            soak->pending = soak->delivered.size() > PACKET_BUFFER_SIZE ? Soak::TooLong : Soak::Datagram;
            return 1;
        }
    }
    soak->model->waitEnded();
    return 0;
}

// Answers already at the socket before the finish packet are dropped.
int soakDrain(void*)
{
    const std::string wrong = soak->model->checkDrain();
    if (!wrong.empty())
        violate(wrong);
    int dropped = 0;
    for (auto at = soak->queue.begin(); at != soak->queue.end();) {
        if (at->due <= soak->waits) {
            at = soak->queue.erase(at);
            ++dropped;
        } else {
            ++at;
        }
    }
    return dropped;
}

int soakReceive(void*, std::uint8_t* buffer, int size)
{
    const Bytes& d = soak->delivered;
    const std::size_t copied = std::min(d.size(), static_cast<std::size_t>(size));
    std::copy(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(copied), buffer);
    if (soak->pending == Soak::TooLong) {
        soak->model->judge(nullptr, 0);  // a failed receive on every platform
        return -1;
    }
    soak->model->judge(d.data(), d.size());
    return static_cast<int>(d.size());
}

int noPendingError()
{
    return 0;
}
int noSystemText(int, char*, std::size_t)
{
    return -1;
}
const ErrorSource quietErrors{noPendingError, noSystemText};

std::uint32_t envNumber(const char* name, std::uint32_t fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10))
                                            : fallback;
}

// The console's last line, its line feed included.
std::string lastLine(const std::string& text)
{
    const std::size_t cut = text.size() >= 2 ? text.rfind('\n', text.size() - 2) : std::string::npos;
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

struct Tally {
    int completed = 0, refusedFinish = 0, fatal = 0;
    unsigned sends = 0;
    double worstSendsPerPacket = 0;
};

// One transfer under its own seed, counted in tally.
void soakOne(std::uint32_t seed, Tally& tally)
{
    Rng rng(seed);
    const Image image = randomImage(rng);
    const int packets = (image.endPage - image.firstPage + 3) / 4;
    ProtocolModel model(ModelImage{image.packaged, image.partialEncrypt, image.fileType,
                                   image.firstPage, image.endPage, PASSWORD});
    Soak state;
    state.model = &model;
    state.rng = &rng;
    state.image = &image;
    state.faults = randomFaults(rng, packets);
    // Far above what these fault rates cost; reaching it means a hang.
    state.sendLimit = 60 * (packets + 1) + 200;
    soak = &state;
    SCOPED_TRACE(testing::Message() << "seed " << seed << ": " << image.name << " type "
                                    << image.fileType << ", " << image.loaded.size()
                                    << " bytes, pages " << image.firstPage << " to "
                                    << image.endPage);

    resetSettings();
    std::strcpy(settings.setPassword, PASSWORD);
    std::strcpy(settings.fileName, "soak.img");
    settings.packagedInput = image.packaged ? 1 : 0;
    settings.partialEncrypt = image.partialEncrypt ? 1 : 0;
    settings.fileType = static_cast<std::uint8_t>(image.fileType);
    std::memset(imageBuffer, 0, IMAGE_BUFFER_SIZE);
    std::memcpy(imageBuffer + image.base, image.loaded.data(), image.loaded.size());
    nMinHexAddress = image.minAddress;
    nMaxHexAddress = image.maxAddress;
    ConsoleCapture::text().clear();

    // A whole wait: with an answer held only a wait's end completes the transfer.
    UpdateLink link{&state, soakSend, soakWait, soakReceive, REPLY_TIMEOUT_MS, soakDrain};
    const TransferOutcome got = transferFile(&link, image.fileType);
    soak = nullptr;
    tally.sends += static_cast<unsigned>(state.sends);
    tally.worstSendsPerPacket =
        std::max(tally.worstSendsPerPacket, state.sends / static_cast<double>(packets + 1));

    ASSERT_EQ(state.violation, "");
    ASSERT_TRUE(model.ended()) << "the transfer ended without an answer that ends it";
    EXPECT_EQ(got.result, model.end().result);
    EXPECT_EQ(got.exitStatus, model.end().status);
    EXPECT_EQ(lastLine(ConsoleCapture::text()), model.end().lastLine);
    // A fault-free device never refuses: every page it was sent is right.
    EXPECT_EQ(state.deviceFault, "");
    for (const auto& [page, bytes] : state.stored) {
        ASSERT_TRUE(page >= image.firstPage && page < image.endPage) << "page " << page;
        const auto from = static_cast<std::ptrdiff_t>((page - image.firstPage) * PAGE_SIZE);
        ASSERT_TRUE(bytes == Bytes(image.pages.begin() + from, image.pages.begin() + from + PAGE_SIZE))
            << "page " << page << " differs from the image";
    }
    if (!state.storedHeader.empty()) {
        EXPECT_EQ(state.storedHeader, image.pageHeader);
    }
    if (got.result == TRANSFER_COMPLETED) {
        ++tally.completed;
        EXPECT_EQ(state.stored.size(), static_cast<std::size_t>(image.endPage - image.firstPage));
        EXPECT_EQ(state.storedHeader, image.pageHeader);
    } else if (model.finishSent()) {
        ++tally.refusedFinish;
    } else {
        ++tally.fatal;
    }
}

TEST(TransferSoak, RandomImagesThroughAFaultyNetwork)
{
    const std::uint32_t runs = envNumber("VN_SOAK_RUNS", 300);
    const std::uint32_t firstSeed = envNumber("VN_SOAK_SEED", 20240601);
    ConsoleCapture console;
    setErrorSource(&quietErrors);
    Tally tally;
    faultCount = FaultCount{};
    for (std::uint32_t i = 0; i < runs && !testing::Test::HasFailure(); ++i)
        soakOne(firstSeed + i, tally);
    setErrorSource(nullptr);
    std::printf("[ soak     ] %u transfers: %d completed, %d ended at the finish packet, "
                "%d ended by a refusal, %u datagrams sent\n",
                static_cast<unsigned>(runs), tally.completed, tally.refusedFinish, tally.fatal,
                tally.sends);
    std::printf("[ soak     ] at most %.1f sends per packet in one transfer\n",
                tally.worstSendsPerPacket);
    std::printf("[ soak     ] faults: %u lost requests, %u lost replies, %u duplicated, %u late, "
                "%u garbled (wrong page, NACK, other code, short, long), %u fatal NACKs\n",
                faultCount.lostRequests, faultCount.lostReplies, faultCount.duplicates,
                faultCount.late, faultCount.garbled, faultCount.fatal);
    // Most runs must get through, or the faults hide what they test.
    EXPECT_GT(tally.completed, static_cast<int>(runs) / 2);
}
}  // namespace
