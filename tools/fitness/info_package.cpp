#include "info_package.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/settings.h"
#include "image/crc16.h"
#include "image/image_buffer.h"
#include "image/image_geometry.h"
#include "image/input_file.h"
#include "info_findings.h"
#include "info_load.h"
#include "fitness_options.h"
#include "link/packets.h"
#include "package/cbc.h"

namespace {
// The first code-update packet's data: page header and four pages. A
// package is enciphered that far unless it was written with -EA.
constexpr std::uint32_t PARTIAL_LENGTH = PAGE_HEADER_SIZE + 4 * PAGE_SIZE;
constexpr std::uint32_t FILE_LIMIT = PACKAGE_HEADER_SIZE + IMAGE_BUFFER_SIZE + 1;

std::uint32_t fieldValue(const std::vector<std::uint8_t>& bytes, std::uint32_t at,
                         std::uint32_t width)
{
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < width && at + i < bytes.size(); ++i)
        value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    return value;
}

bool typeAccepted(std::uint8_t type)
{
    const auto signedType = static_cast<std::int8_t>(type);
    return signedType >= 1 && signedType <= 7;
}

void describeHeader(const std::vector<std::uint8_t>& file, std::uint64_t fileLength,
                    PackageView& view)
{
    const auto size = static_cast<std::uint32_t>(file.size());
    view.present = true;
    view.headerBytes = size < PACKAGE_HEADER_SIZE ? size : PACKAGE_HEADER_SIZE;
    view.magic = static_cast<std::uint8_t>(fieldValue(file, 0, 1));
    view.fileType = static_cast<std::uint8_t>(fieldValue(file, 1, 1));
    view.minBound = fieldValue(file, 2, 4);
    view.maxBound = fieldValue(file, 6, 4);
    view.storedCrc = static_cast<std::uint16_t>(fieldValue(file, 10, 2));
    const std::uint32_t body = size > PACKAGE_HEADER_SIZE ? size - PACKAGE_HEADER_SIZE : 0;
    view.bodyTooLong = body > IMAGE_BUFFER_SIZE;
    view.bodyLength = view.bodyTooLong ? IMAGE_BUFFER_SIZE : body;
    view.fileBodyLength = fileLength > PACKAGE_HEADER_SIZE ? fileLength - PACKAGE_HEADER_SIZE : 0;
    view.bodyCrc = updateCrc16(file.data() + view.headerBytes, view.bodyLength);
    view.wholePages = view.bodyLength >= PAGE_HEADER_SIZE + PAGE_SIZE &&
                      (view.bodyLength - PAGE_HEADER_SIZE) % PAGE_SIZE == 0;
    std::uint32_t image = view.bodyLength > PAGE_HEADER_SIZE ? view.bodyLength - PAGE_HEADER_SIZE : 0;
    view.bodyPages = pagesOf(image);
}

std::uint32_t decipheredLength(std::uint32_t bodyLength, bool whole)
{
    std::uint32_t length = whole || bodyLength < PARTIAL_LENGTH ? bodyLength : PARTIAL_LENGTH;
    return length - length % DES_BLOCK_SIZE;
}

// Deciphers a copy of the body and reads its page header.
std::vector<std::uint8_t> plainBody(const std::uint8_t* body, std::uint32_t length, bool whole)
{
    std::vector<std::uint8_t> plain(body, body + length);
    cbcRun(plain.data(), decipheredLength(length, whole), infoOptions.key, 0);
    return plain;
}

bool pageHeaderCrcOk(const std::vector<std::uint8_t>& plain)
{
    const auto length = static_cast<std::uint32_t>(plain.size());
    return updateCrc16(plain.data() + PAGE_HEADER_SIZE, length - PAGE_HEADER_SIZE) ==
           getU16(plain.data() + 2);
}

// The page header keeps only the low 16 bits of the source length: the
// length that fills as many pages as the body holds, if any does.
bool fittingLength(std::uint16_t stored, std::uint32_t bodyLength, std::uint32_t* full)
{
    const std::uint32_t image = bodyLength - PAGE_HEADER_SIZE;
    const std::uint32_t bodyPages = pagesOf(image);
    for (std::uint32_t length = stored; length <= image; length += 0x10000) {
        std::uint32_t pages = pagesOf(length);
        if (pages == 0)
            pages = 1;  // the writer pads to at least one page
        if (pages == bodyPages) {
            *full = length;
            return true;
        }
    }
    return false;
}

void readPageHeader(const std::vector<std::uint8_t>& plain, PageHeaderView& view)
{
    const auto length = static_cast<std::uint32_t>(plain.size());
    const std::uint8_t* image = plain.data() + PAGE_HEADER_SIZE;
    view.checked = true;
    view.sourceLength = getU16(plain.data());
    view.storedCrc = getU16(plain.data() + 2);
    view.imageCrc = updateCrc16(image, length - PAGE_HEADER_SIZE);
    view.crcOk = view.imageCrc == view.storedCrc;
    for (std::uint32_t i = 0; i < 4; ++i) {
        view.copied[i] = plain[4 + i];
        view.imageBytes[i] = PAGE_HEADER_SIZE + 4 + i < length ? image[4 + i] : 0;
    }
    view.copiedOk = std::memcmp(view.copied, view.imageBytes, 4) == 0;
    view.lengthFits = fittingLength(view.sourceLength, length, &view.sourceLengthFull);
}

// With a sound page header: does the image look like the type byte says?
void checkTypeAgainstImage(InfoReport& report, const std::vector<std::uint8_t>& plain)
{
    const PackageView& pkg = report.package;
    const PageHeaderView& view = report.pageHeader;
    const std::uint8_t* image = plain.data() + PAGE_HEADER_SIZE;
    const auto imageLength = static_cast<std::uint32_t>(plain.size() - PAGE_HEADER_SIZE);
    // Read within the image: a body may be a page header alone.
    const ImageShape shape = imageShapeOf(image, imageLength, view.sourceLength);
    std::uint32_t expected = 0;
    switch (pkg.fileType) {
    case TYPE_MAIN_HEX: expected = pkg.maxBound - pkg.minBound; break;
    case TYPE_DSP_HEX:
        expected = static_cast<std::uint32_t>(wordImageLength(pkg.minBound, pkg.maxBound));
        break;
    case TYPE_LOGO:
    case TYPE_JAVA:
    case TYPE_HTML: expected = pkg.maxBound; break;
    default: return;  // the transfer refuses it anyway
    }
    const char* type = typeName(pkg.fileType);
    const std::size_t earlier = report.problems.size();
    if ((expected & 0xFFFFu) != view.sourceLength)
        addProblem(report, INFO_MISMATCH,
                   "the package header's bounds 0x%x and 0x%x make a %s image of %u bytes, but "
                   "the page header says %u: the type byte or the bounds are wrong",
                   static_cast<unsigned>(pkg.minBound), static_cast<unsigned>(pkg.maxBound), type,
                   static_cast<unsigned>(expected), static_cast<unsigned>(view.sourceLength));
    const std::uint32_t length = view.lengthFits ? view.sourceLengthFull : view.sourceLength;
    if (pkg.fileType == TYPE_LOGO || pkg.fileType == TYPE_JAVA) {
        const std::uint32_t prefix = shape.prefix;
        const std::uint32_t content = length >= 2 ? (length - 2) & 0xFFFFu : 0x10000u;
        if (prefix != content)
            addProblem(report, INFO_MISMATCH,
                       "a %s image starts with its content length, %u, but this one starts with "
                       "%u: the type byte may be wrong",
                       type, static_cast<unsigned>(content & 0xFFFFu), static_cast<unsigned>(prefix));
    }
    if (pkg.fileType == TYPE_DSP_HEX) {
        const unsigned low = shape.lowWord;
        const unsigned high = shape.highWord;
        if (low != (pkg.minBound & 0xFFFFu) || high != (pkg.maxBound & 0xFFFFu))
            addProblem(report, INFO_MISMATCH,
                       "a DSP image starts with its word bounds 0x%04x and 0x%04x, but this one "
                       "with 0x%04x and 0x%04x: the type byte may be wrong",
                       static_cast<unsigned>(pkg.minBound & 0xFFFFu),
                       static_cast<unsigned>(pkg.maxBound & 0xFFFFu), low, high);
    }
    // The checks above say in their own words what does not fit.
    if (report.problems.size() != earlier)
        return;
    if (auto finding = shapeFinding(pkg.fileType, shape))
        report.problems.push_back(*finding);
    else if (auto text = textImageFinding(pkg.fileType, image, std::min(length, imageLength)))
        report.problems.push_back(*text);
}

void inspectPageHeader(InfoReport& report, const std::uint8_t* body)
{
    const PackageView& pkg = report.package;
    PageHeaderView& view = report.pageHeader;
    if (pkg.bodyLength < PAGE_HEADER_SIZE) {
        addNote(report, "the body is too short to hold a page header");
        return;
    }
    const bool whole = infoOptions.wholeEncrypt;
    std::vector<std::uint8_t> plain = plainBody(body, pkg.bodyLength, whole);
    view.wholeBody = whole;
    view.decipheredLength = decipheredLength(pkg.bodyLength, whole);
    readPageHeader(plain, view);

    if (!view.crcOk) {
        // A body of four pages or less is enciphered whole either way.
        view.otherModeOk = pkg.bodyLength > PARTIAL_LENGTH &&
                           pageHeaderCrcOk(plainBody(body, pkg.bodyLength, !whole));
        if (view.otherModeOk && whole)
            addProblem(report, INFO_PAGE_HEADER,
                       "the page header checks out only when just the first 1032 bytes are "
                       "deciphered: the package was written without -EA; inspect and send it "
                       "without -EA");
        else if (view.otherModeOk)
            addProblem(report, INFO_PAGE_HEADER,
                       "the page header checks out only when the whole body is deciphered: the "
                       "package was written with -EA; inspect and send it with -EA");
        else
            addProblem(report, INFO_PAGE_HEADER,
                       "the page header holds CRC 0x%04x, but the deciphered image gives 0x%04x: "
                       "wrong key, or the body is corrupted",
                       static_cast<unsigned>(view.storedCrc), static_cast<unsigned>(view.imageCrc));
        return;  // the rest of a page header that does not check out means nothing
    }
    if (!view.copiedOk)
        addProblem(report, INFO_PAGE_HEADER,
                   "page header bytes 4 to 7 differ from image bytes 4 to 7");
    if (!view.lengthFits)
        addProblem(report, INFO_MISMATCH,
                   "the page header's source length, %u, does not fill the body's %u pages",
                   static_cast<unsigned>(view.sourceLength), static_cast<unsigned>(pkg.bodyPages));
    checkTypeAgainstImage(report, plain);
}

// Why the loader refused it, in the terms of the exit statuses.
void reportRefusal(InfoReport& report, const std::vector<std::uint8_t>& file)
{
    const PackageView& view = report.package;
    const bool crcOnly = view.headerBytes == PACKAGE_HEADER_SIZE && view.magic == PACKAGE_MAGIC &&
                         typeAccepted(view.fileType) && view.bodyCrc != view.storedCrc;
    if (crcOnly)
        addProblem(report, INFO_PACKAGE_CRC,
                   "the body gives CRC 0x%04x, but the package header holds 0x%04x: the file is "
                   "corrupted or cut (VNloader: \"%s\")",
                   static_cast<unsigned>(view.bodyCrc), static_cast<unsigned>(view.storedCrc),
                   report.loaderMessage.c_str());
    else
        addProblem(report, INFO_UNREADABLE, "VNloader would stop: \"%s\"",
                   report.loaderMessage.c_str());
    if (!file.empty() && view.headerBytes < PACKAGE_HEADER_SIZE && view.magic == PACKAGE_MAGIC)
        addNote(report, "the file ends inside the 12-byte package header");
    if (!file.empty() && file[0] == ':')
        addNote(report, "it looks like Intel HEX text: give -NE -T M or -NE -T D");
    else if (!file.empty() && view.magic != PACKAGE_MAGIC)
        addNote(report, "it is not an update package; for a plain file give -NE -T and its type");
}
}  // namespace

bool readFileBytes(const char* path, std::uint32_t limit, std::vector<std::uint8_t>* bytes,
                   std::uint64_t* fileLength)
{
    bytes->clear();
    std::FILE* file = openInputFile(path);  // a FIFO must not hold the report up
    if (!file)
        return false;
    bytes->resize(limit);
    const std::size_t got = std::fread(bytes->data(), 1, limit, file);
    bytes->resize(got);
    std::uint64_t length = got;
    if (got == limit) {
        char rest[4096];
        std::size_t more;
        while ((more = std::fread(rest, 1, sizeof rest, file)) != 0)
            length += more;
    }
    std::fclose(file);
    if (fileLength)
        *fileLength = length;
    return true;
}

bool looksLikePackage(const std::vector<std::uint8_t>& bytes)
{
    if (bytes.size() <= PACKAGE_HEADER_SIZE || bytes[0] != PACKAGE_MAGIC || !typeAccepted(bytes[1]))
        return false;
    const auto body = static_cast<std::uint32_t>(bytes.size() - PACKAGE_HEADER_SIZE);
    return updateCrc16(bytes.data() + PACKAGE_HEADER_SIZE, body) == fieldValue(bytes, 10, 2);
}

void inspectPackage(InfoReport& report)
{
    std::vector<std::uint8_t> file;
    std::uint64_t fileLength = 0;
    const bool opened = readFileBytes(report.path.c_str(), FILE_LIMIT, &file, &fileLength);

    // The loader's own verdict, in its own words.
    loadLikeVNloader(report, true, 0);
    if (!opened) {
        addProblem(report, INFO_UNREADABLE, "VNloader would stop: \"%s\"",
                   report.loaderMessage.c_str());
        return;
    }

    PackageView& view = report.package;
    describeHeader(file, fileLength, view);
    if (!report.loaderAccepted)
        reportRefusal(report, file);
    if (view.bodyTooLong)
        addProblem(report, INFO_OUT_OF_RANGE,
                   "the body is %.0f bytes; VNloader reads only the first %u",
                   static_cast<double>(view.fileBodyLength), static_cast<unsigned>(IMAGE_BUFFER_SIZE));
    else if (view.headerBytes == PACKAGE_HEADER_SIZE && view.bodyLength != 0 && !view.wholePages)
        addProblem(report, INFO_MISMATCH,
                   "the body is %u byte%s, not a page header and whole pages (264 + 256 x k)",
                   static_cast<unsigned>(view.bodyLength), view.bodyLength == 1 ? "" : "s");

    if (view.headerBytes < PACKAGE_HEADER_SIZE || view.magic != PACKAGE_MAGIC)
        return;
    if (auto finding = wordBoundFinding(view.fileType, view.maxBound))
        report.problems.push_back(*finding);
    if (infoOptions.keyGiven)
        inspectPageHeader(report, file.data() + PACKAGE_HEADER_SIZE);
    else
        addNote(report, "page header not checked: give the key with -K");
}
