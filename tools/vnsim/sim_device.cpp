#include "sim_device.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sim_image.h"
#include "sim_options.h"
#include "sim_sequence.h"

namespace {
SimState onlyDevice;
}  // namespace
SimState* simState = &onlyDevice;

namespace {
// Each finishType owns a range of the device's page space. Kept here on
// purpose, apart from the loader's table: VNsim is the loader's independent check.
struct ImageKind {
    std::uint8_t finishType;
    const char* name;
    int firstPage;
    int pageLimit;  // highest endPage
};

// The device's own page map, apart from image/image_kinds on purpose: the independent check.
constexpr ImageKind imageKinds[] = {
    {FINISH_MAIN_HEX, "main", 0, 1027},   {FINISH_DSP_HEX, "dsp", 1571, 1671},
    {FINISH_LOGO, "logo", 1555, 1571},    {FINISH_JAVA, "java", 1427, 1555},
    {FINISH_HTML, "html", 1027, 1427},
};

const ImageKind* kindOf(std::uint8_t finishType)
{
    for (const ImageKind& kind : imageKinds)
        if (kind.finishType == finishType)
            return &kind;
    return nullptr;
}

void appendV(char* line, std::size_t size, const char* format, va_list args)
{
    std::size_t used = std::strlen(line);
    if (used + 1 < size)
        std::vsnprintf(line + used, size - used, format, args);
}

// The password field as text for the report, non-printing bytes as '?'.
void showPassword(const std::uint8_t* field, char* text)
{
    int i = 0;
    for (; i < SIM_PASSWORD_SIZE && field[i] != 0; ++i)
        text[i] = (field[i] >= 0x20 && field[i] < 0x7F) ? static_cast<char>(field[i]) : '?';
    text[i] = '\0';
}

// Bytes after the terminator must be zero, as the loader fills them.
bool passwordFieldWellFormed(const std::uint8_t* field)
{
    int i = 0;
    while (i < SIM_PASSWORD_SIZE && field[i] != 0)
        ++i;
    for (; i < SIM_PASSWORD_SIZE; ++i)
        if (field[i] != 0)
            return false;
    return true;
}

void answerWith(SimAnswer* answer, std::uint8_t code, std::uint8_t reason)
{
    answer->replyCode = code;
    answer->nackReason = reason;
}

// A packet the device cannot use: refused, and a failed check.
void refuseLayout(SimAnswer* answer, const char* what, const char* problem)
{
    appendLine(answer, ", %s", problem);
    noteFailure("%s: %s", what, problem);
    answerWith(answer, TFTP_NACK, SIM_NACK_BAD_PACKET);
}

// Checks shared by both packets; false when the answer is already decided.
bool checkCommonFields(const std::uint8_t* data, SimAnswer* answer, const char* what)
{
    char problem[96];
    if (getU16(data + OFF_FIXED_WORD) != FIXED_WORD) {
        std::snprintf(problem, sizeof problem, "fixedWord %d, wanted %d",
                      getU16(data + OFF_FIXED_WORD), FIXED_WORD);
        refuseLayout(answer, what, problem);
        return false;
    }
    const std::uint8_t* field = data + OFF_PASSWORD;
    char shown[SIM_PASSWORD_SIZE + 1];
    showPassword(field, shown);
    if (simOptions.passwordGiven) {
        if (std::memcmp(field, simOptions.password, SIM_PASSWORD_SIZE) != 0) {
            appendLine(answer, ", wrong Set Password \"%s\"", shown);
            noteFailure("%s: wrong Set Password \"%s\"", what, shown);
            answerWith(answer, TFTP_NACK, NACK_WRONG_PASSWORD);
            answer->endsRun = true;
            return false;
        }
    } else if (!passwordFieldWellFormed(field)) {
        refuseLayout(answer, what, "bytes after the end of the Set Password");
        return false;
    }
    return true;
}

void handleCodeUpdate(const std::uint8_t* data, int length, SimAnswer* answer)
{
    int count = data[OFF_COUNT_OR_TYPE];
    int flags = data[OFF_FLAGS];
    int start = getU16(data + OFF_START_PAGE);
    answer->target = start;
    answer->replyPage = static_cast<std::uint16_t>(start);
    appendLine(answer, "code update %d to %d, %d page%s, flags 0x%02x, %d bytes", start,
               start + count - 1, count, count == 1 ? "" : "s", flags, length);
    char what[32];
    std::snprintf(what, sizeof what, "packet %d", start);

    char problem[96];
    int wanted = (flags & FLAG_PAGE_HEADER) ? FIRST_PACKAGE_PACKET_SIZE : CODE_UPDATE_SIZE;
    if (length != wanted) {
        std::snprintf(problem, sizeof problem, "length %d, wanted %d", length, wanted);
        refuseLayout(answer, what, problem);
        return;
    }
    if (count < 1 || count > PAGES_PER_PACKET) {
        std::snprintf(problem, sizeof problem, "pageCount %d, wanted 1 to %d", count,
                      PAGES_PER_PACKET);
        refuseLayout(answer, what, problem);
        return;
    }
    if (flags & ~(FLAG_PAGE_HEADER | FLAG_ENCRYPTED)) {
        refuseLayout(answer, what, "unknown flag bits");
        return;
    }
    if (start + count > 0x10000) {
        refuseLayout(answer, what, "pages beyond 65535");
        return;
    }
    if (!checkCommonFields(data, answer, what))
        return;

    const std::uint8_t* payload = data + OFF_PAYLOAD;
    bool again = simState->pages.find(start) != simState->pages.end();
    if (flags & FLAG_PAGE_HEADER) {
        std::memcpy(simState->header, payload, SIM_PAGE_HEADER_SIZE);
        simState->haveHeader = true;
        simState->headerEnciphered = (flags & FLAG_ENCRYPTED) != 0;
        simState->headerPage = start;
        payload += SIM_PAGE_HEADER_SIZE;
    }
    for (int i = 0; i < count; ++i) {
        SimPage& page = simState->pages[start + i];
        std::memcpy(page.bytes, payload + i * SIM_PAGE_SIZE, SIM_PAGE_SIZE);
        page.enciphered = (flags & FLAG_ENCRYPTED) != 0;
    }
    simState->packetsByStart[start] = SimPacket{count, flags};
    if (again)
        appendLine(answer, ", again");
    answerWith(answer, TFTP_ACK, 0);
}

void handleFinish(const std::uint8_t* data, int length, SimAnswer* answer)
{
    int type = data[OFF_COUNT_OR_TYPE];
    int flags = data[OFF_FLAGS];
    int start = getU16(data + OFF_START_PAGE);
    answer->target = SIM_TARGET_FINISH;
    answer->isFinish = true;
    answer->endsRun = true;  // the loader sends it once, last
    simState->finishArrived = true;
    answer->replyPage = static_cast<std::uint16_t>(start);
    const ImageKind* kind = kindOf(static_cast<std::uint8_t>(type));
    appendLine(answer, "finish %s (type %d), flags 0x%02x, %d bytes", kind ? kind->name : "?",
               type, flags, length);

    char problem[96];
    if (length != FINISH_PACKET_SIZE) {
        std::snprintf(problem, sizeof problem, "length %d, wanted %d", length, FINISH_PACKET_SIZE);
        refuseLayout(answer, "finish", problem);
        return;
    }
    if (!kind) {
        std::snprintf(problem, sizeof problem, "finishType %d, wanted 9 to 13", type);
        refuseLayout(answer, "finish", problem);
        return;
    }
    if (flags & ~FLAG_ENCRYPTED) {
        refuseLayout(answer, "finish", "unknown flag bits");
        return;
    }
    if (start != 0) {
        std::snprintf(problem, sizeof problem, "startPage %d, wanted 0", start);
        refuseLayout(answer, "finish", problem);
        return;
    }
    if (!checkCommonFields(data, answer, "finish"))
        return;

    int first = getU16(data + OFF_FIRST_PAGE);
    int end = getU16(data + OFF_END_PAGE);
    std::uint16_t sentCrc = getU16(data + OFF_IMAGE_CRC);
    if (end > first)
        appendLine(answer, ", pages %d to %d", first, end - 1);
    else
        appendLine(answer, ", pages %d to %d (none)", first, end);
    if (first != kind->firstPage || end < first || end > kind->pageLimit) {
        std::snprintf(problem, sizeof problem, "not within the %s pages %d to %d", kind->name,
                      kind->firstPage, kind->pageLimit - 1);
        refuseLayout(answer, "finish", problem);
        return;
    }

    simState->finishSeen = true;
    answerWith(answer, TFTP_ACK, 0);
    const int failedBefore = simState->checksFailed;

    simState->missingPages = missingPages(first, end);
    std::uint16_t crc = receivedCrc(first, end);
    simState->crcOk = simState->missingPages == 0 && crc == sentCrc;
    if (simState->missingPages != 0) {
        const char* plural = simState->missingPages == 1 ? "" : "s";
        appendLine(answer, ", %d page%s missing", simState->missingPages, plural);
        noteFailure("finish: %d page%s missing", simState->missingPages, plural);
    } else if (!simState->crcOk) {
        appendLine(answer, ", crc 0x%04x but pages give 0x%04x", sentCrc, crc);
        noteFailure("finish: crc 0x%04x, the pages received give 0x%04x", sentCrc, crc);
    } else {
        appendLine(answer, ", crc 0x%04x ok", sentCrc);
    }
    // Missing pages already tell of a packet that fell short.
    bool packetsFit = simState->missingPages != 0 ||
                      packetsFitFinish(first, end, (flags & FLAG_ENCRYPTED) != 0, answer);

    // A packaged image starts with its page header at the first page and
    // says so in the finish packet's flags.
    bool packagedFinish = (flags & FLAG_ENCRYPTED) != 0;
    if (simState->haveHeader && simState->headerPage != first) {
        appendLine(answer, ", page header came with packet %d", simState->headerPage);
        noteFailure("finish: page header came with packet %d, not %d", simState->headerPage, first);
    }
    if (end > first && packagedFinish != simState->haveHeader) {
        const char* arrived = simState->haveHeader ? "a" : "no";
        appendLine(answer, ", but %s page header arrived", arrived);
        noteFailure("finish: flags 0x%02x, but %s page header arrived", flags, arrived);
    }

    simState->headerCheck = HEADER_NONE;
    if (simState->haveHeader)
        simState->headerCheck = packagedImage(first, end, &simState->image);
    else
        plainImage(first, end, &simState->image);
    appendLine(answer, "%s", headerCheckText(simState->headerCheck));
    if (simState->headerCheck == HEADER_BAD)
        noteFailure("finish: the page header's crc does not match the image");

    // Every check failed here refuses the update, as a device would.
    if (!packetsFit || !simState->crcOk || simState->checksFailed != failedBefore)
        answerWith(answer, TFTP_NACK, NACK_BAD_CRC);
}
}  // namespace

const char* headerCheckText(SimHeaderCheck check)
{
    switch (check) {
    case HEADER_OK:
        return ", page header crc ok";
    case HEADER_BAD:
        return ", page header crc bad";
    case HEADER_NO_KEY:
        return ", page header not checked (no key)";
    default:
        return "";
    }
}

void appendLine(SimAnswer* answer, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    appendV(answer->line, sizeof answer->line, format, args);
    va_end(args);
}

void noteFailure(const char* format, ...)
{
    if (simState->checksFailed++ > 0)
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(simState->firstFailure, sizeof simState->firstFailure, format, args);
    va_end(args);
}

void handleDatagram(const std::uint8_t* data, int length, SimAnswer* answer)
{
    std::memset(answer, 0, sizeof *answer);
    answer->replyLength = REPLY_LENGTH;
    answer->copies = 1;
    ++simState->packets;

    int opcode = length > 0 ? data[OFF_OPCODE] : -1;
    if (length >= PACKET_HEADER_SIZE && opcode == TFTP_CODE_UPDATE) {
        simState->started = true;
        handleCodeUpdate(data, length, answer);
        return;
    }
    if (length >= PACKET_HEADER_SIZE && opcode == TFTP_FINISH) {
        handleFinish(data, length, answer);
        return;
    }
    answer->target = SIM_TARGET_OTHER;
    answer->replyPage = length >= OFF_START_PAGE + 2 ? getU16(data + OFF_START_PAGE) : 0;
    appendLine(answer, "datagram of %d bytes, opcode %d", length, opcode);
    refuseLayout(answer, "datagram",
                 length < PACKET_HEADER_SIZE ? "shorter than a packet header"
                                             : "not a code-update or finish packet");
}

int buildReply(const SimAnswer* answer, std::uint8_t* reply, int size)
{
    int length = answer->replyLength < size ? answer->replyLength : size;
    std::memset(reply, 0, static_cast<std::size_t>(size));
    reply[OFF_REPLY_CODE] = answer->replyCode;
    reply[OFF_NACK_REASON] = answer->replyCode == TFTP_NACK ? answer->nackReason : 0;
    putU16(reply + OFF_REPLY_PAGE, answer->replyPage);
    return length;
}

int debugMessagesFor(const SimAnswer& answer, bool firstCodeUpdate, const char** messages)
{
    int count = 0;
    if (firstCodeUpdate)
        messages[count++] = "update started";
    if (answer.replyCode == TFTP_NACK && answer.nackReason == NACK_WRONG_PASSWORD)
        messages[count++] = "wrong Set Password";
    if (answer.isFinish)
        messages[count++] = simState->finishSeen && !simState->finishRefused &&
                                    simState->checksFailed == 0
                                ? "update finished, crc ok"
                                : "update failed";
    return count;
}
