#include "info_text.h"

#include <cstdarg>
#include <cstdio>

#include "app/settings.h"
#include "image/image_buffer.h"
#include "link/packets.h"

namespace {
constexpr std::size_t RUNS_SHOWN = 16;

// One "  name   value" line; the values line up in column 23.
void item(const char* name, const char* format, ...) VN_PRINTF(2, 3);

void item(const char* name, const char* format, ...)
{
    char value[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(value, sizeof value, format, args);
    va_end(args);
    consolePrint("  %-20s %s\n", name, value);
}

unsigned u(std::uint32_t value)
{
    return static_cast<unsigned>(value);
}

std::string bytesText(const std::uint8_t* bytes, std::size_t count)
{
    std::string text;
    char one[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(one, sizeof one, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += one;
    }
    return text;
}

const char* okText(bool ok)
{
    return ok ? "ok" : "BAD";
}

void printPackage(const InfoReport& report)
{
    const PackageView& pkg = report.package;
    consolePrint("Update package\n");
    if (pkg.headerBytes < PACKAGE_HEADER_SIZE) {
        item("package header", "%u of 12 bytes: cut", u(pkg.headerBytes));
        return;
    }
    item("magic", "0x%02x%s", pkg.magic, pkg.magic == PACKAGE_MAGIC ? " \"A\"" : ", not \"A\"");
    if (pkg.magic != PACKAGE_MAGIC)
        return;
    item("file type", "%d (%s)", static_cast<int>(static_cast<std::int8_t>(pkg.fileType)),
         typeName(pkg.fileType));
    item("nMinHexAddress", "0x%08x", u(pkg.minBound));
    item("nMaxHexAddress", "0x%08x", u(pkg.maxBound));
    item("file CRC", "0x%04x, the body gives 0x%04x: %s", pkg.storedCrc, pkg.bodyCrc,
         okText(pkg.storedCrc == pkg.bodyCrc));
    if (pkg.bodyTooLong)
        item("body", "%.0f bytes, of which VNloader reads %u", static_cast<double>(pkg.fileBodyLength),
             u(pkg.bodyLength));
    else if (pkg.wholePages)
        item("body", "%u bytes: page header and %u page%s", u(pkg.bodyLength), u(pkg.bodyPages),
             pkg.bodyPages == 1 ? "" : "s");
    else
        item("body", "%u byte%s: not a page header and whole pages", u(pkg.bodyLength),
             pkg.bodyLength == 1 ? "" : "s");
}

void printPageHeader(const InfoReport& report)
{
    const PageHeaderView& view = report.pageHeader;
    if (!view.checked)
        return;
    consolePrint("Page header, deciphered (%s, %u bytes)\n",
                 view.wholeBody ? "whole body, -EA" : "first 1032 bytes at most",
                 u(view.decipheredLength));
    if (!view.crcOk) {
        item("source length", "%u (not judged)", u(view.sourceLength));
        item("padded-image CRC", "0x%04x, the image gives 0x%04x: BAD", view.storedCrc,
             view.imageCrc);
        item("bytes 4 to 7", "%s (not judged)", bytesText(view.copied, 4).c_str());
        return;
    }
    if (view.lengthFits)
        item("source length", "%u bytes: fits the body", u(view.sourceLengthFull));
    else
        item("source length", "%u bytes: does not fit the body", u(view.sourceLength));
    item("padded-image CRC", "0x%04x, the image gives 0x%04x: ok", view.storedCrc, view.imageCrc);
    item("bytes 4 to 7", "%s: %s", bytesText(view.copied, 4).c_str(),
         view.copiedOk ? "as image bytes 4 to 7" : "image bytes 4 to 7 differ");
}

std::string runText(const HexRun& run, bool words)
{
    char text[96];
    std::snprintf(text, sizeof text, "0x%x to 0x%x (%u %s)", u(run.start), u(run.end - 1),
                  u(run.end - run.start), words ? "words" : "bytes");
    return text;
}

void printRuns(const char* name, const std::vector<HexRun>& runs, bool words)
{
    if (runs.empty()) {
        item(name, "none");
        return;
    }
    for (std::size_t i = 0; i < runs.size() && i < RUNS_SHOWN; ++i)
        item(i == 0 ? name : "", "%s", runText(runs[i], words).c_str());
    if (runs.size() > RUNS_SHOWN)
        item("", "and %u more", u(static_cast<std::uint32_t>(runs.size() - RUNS_SHOWN)));
}

// One line per named record, the first RUNS_SHOWN of a list.
template <typename Entry, typename Describe>
void printRecordList(const char* name, const std::vector<Entry>& list, Describe describe)
{
    for (std::size_t i = 0; i < list.size() && i < RUNS_SHOWN; ++i)
        item(i == 0 ? name : "", "%s", describe(list[i]).c_str());
    if (list.size() > RUNS_SHOWN)
        item("", "and %u more", u(static_cast<std::uint32_t>(list.size() - RUNS_SHOWN)));
}

std::string lineText(std::uint32_t line, const char* format, ...) VN_PRINTF(2, 3);

std::string lineText(std::uint32_t line, const char* format, ...)
{
    char text[160];
    int used = std::snprintf(text, sizeof text, "line %u: ", u(line));
    va_list args;
    va_start(args, format);
    std::vsnprintf(text + used, sizeof text - static_cast<std::size_t>(used), format, args);
    va_end(args);
    return text;
}

void printRecordReport(const HexView& hex)
{
    printRecordList("bad checksums", hex.checksumFaults, [](const HexChecksumFault& fault) {
        return fault.present ? lineText(fault.line, "0x%02x, the record needs 0x%02x", fault.stored, fault.wanted)
                             : lineText(fault.line, "missing, the record needs 0x%02x", fault.wanted);
    });
    printRecordList("overlapping data", hex.overlapping, [&](const HexOverlap& overlap) {
        return lineText(overlap.line, "%s over earlier data", runText(overlap.where, hex.wordMode).c_str());
    });
    printRecordList("after end of file", hex.dataAfterEnd, [&](std::uint32_t line) {
        return lineText(line, "data after the end-of-file record on line %u", u(hex.endOfFileLine));
    });
    printRecordList("ignored records", hex.ignored, [](const HexIgnored& record) {
        return lineText(record.line, "type %02x, start address", static_cast<unsigned>(record.type));
    });
}

void printRefusal(const HexRefusal& refusal)
{
    if (refusal.line == 0)
        return;
    if (refusal.notRecord)
        item("refused", "line %u is not a record", u(refusal.line));
    else if (refusal.type >= 0 && refusal.length >= 0)
        item("refused", "line %u: type %02X, length %d", u(refusal.line),
             static_cast<unsigned>(refusal.type), refusal.length);
    else
        item("refused", "line %u", u(refusal.line));
    item("rule", "%s", refusal.rule);
    item("what to do", "%s", refusal.advice);
}

void printHex(const InfoReport& report)
{
    const HexView& hex = report.hex;
    consolePrint("Intel HEX, %s\n", hex.wordMode ? "DSP (word addresses)" : "main CPU (byte addresses)");
    if (!report.loaderAccepted) {
        printRefusal(hex.refusal);
        return;
    }
    if (hex.minBound > hex.maxBound) {
        item("bounds", "none: no data");
        return;
    }
    const char* unit = hex.wordMode ? "words" : "bytes";
    item("bounds", "nMinHexAddress 0x%x, nMaxHexAddress 0x%x: %u %s", u(hex.minBound),
         u(hex.maxBound), u(hex.maxBound - hex.minBound), unit);
    item("records", "%u data, %u other", u(hex.dataRecords), u(hex.otherRecords));
    printRuns("data", hex.runs, hex.wordMode);
    printRuns("gaps (sent as 0)", hex.gaps, hex.wordMode);
    printRecordReport(hex);
    if (hex.wordMode && hex.dataRecords != 0)
        item("word image", "%u bytes at buffer offset 0x%x: %s%s", u(hex.wordImageLength),
             u(hex.wordImageOffset),
             bytesText(hex.wordImageStart.data(), hex.wordImageStart.size()).c_str(),
             hex.wordImageLength > hex.wordImageStart.size() ? " ..." : "");
}

void printRaw(const InfoReport& report, const char* type)
{
    consolePrint("Raw %s file\n", type);
    if (!report.loaderAccepted)
        return;
    if (report.raw.loadedLength == report.raw.contentLength)
        item("content", "%u bytes", u(report.raw.contentLength));
    else
        item("content", "%u bytes, %u with its length prefix", u(report.raw.contentLength),
             u(report.raw.loadedLength));
}

void printTransfer(const InfoReport& report)
{
    const TransferView& plan = report.transfer;
    if (!plan.planned && !plan.refused)
        return;
    consolePrint("Transfer\n");
    if (plan.refused) {
        item("refused", "\"%s\", exit status %d", plan.refusal.c_str(), plan.loaderExitStatus);
        return;
    }
    const unsigned pages = plan.endPage > plan.firstPage ? plan.endPage - plan.firstPage : 0;
    if (pages == 0)
        item("pages", "none (firstPage %u, endPage %u)", plan.firstPage, plan.endPage);
    else
        item("pages", "%u to %u (%u page%s)", plan.firstPage, plan.endPage - 1, pages,
             pages == 1 ? "" : "s");
    if (plan.packets == 0)
        item("code-update packets", "none");
    else if (plan.haveLater)
        item("code-update packets", "%u: the first %d bytes, flags 0x%02x; the others flags 0x%02x",
             u(plan.packets), plan.firstLength, plan.firstFlags, plan.laterFlags);
    else
        item("code-update packets", "1: %d bytes, flags 0x%02x", plan.firstLength, plan.firstFlags);
    item("finish packet", "finishType %u, flags 0x%02x, firstPage %u, endPage %u, imageCrc 0x%04x",
         plan.finishType, plan.finishFlags, plan.firstPage, plan.endPage, plan.imageCrc);
}
}  // namespace

void printText(const InfoReport& report)
{
    consolePrint("File: %s\n", report.path.c_str());
    const std::string kind = report.inputKind;
    if (kind == "package")
        printPackage(report);
    else if (kind == "main-hex" || kind == "dsp-hex")
        printHex(report);
    else
        printRaw(report, kind == "java" ? "Java" : kind.c_str());
    printPageHeader(report);
    printTransfer(report);
    if (!report.notes.empty()) {
        consolePrint("Notes\n");
        for (const std::string& note : report.notes)
            consolePrint("  %s\n", note.c_str());
    }
    if (!report.problems.empty()) {
        consolePrint("Problems\n");
        for (const Finding& problem : report.problems)
            consolePrint("  [%d] %s\n", problem.status, problem.text.c_str());
    }
    const int status = reportStatus(report);
    consolePrint("Result: %d, %s\n", status, statusMeaning(status));
}
