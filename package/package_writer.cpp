#include "package/package_writer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "diag/console.h"
#include "image/crc16.h"
#include "image/file_types.h"
#include "image/hex_reader.h"
#include "image/image_buffer.h"
#include "image/image_geometry.h"
#include "image/image_kinds.h"
#include "image/update_file.h"
#include "package/cbc.h"
#include "package/package_output.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

// Leftover temporaries of earlier runs that were cut off are passed over.
constexpr int TEMP_NAME_TRIES = 1000;
// Room for the path a link of the output name leads to.
constexpr std::size_t PATH_TEXT_SIZE = 4096;

std::size_t standardWrite(const void* data, std::size_t size, std::size_t count, std::FILE* file)
{
    return std::fwrite(data, size, count, file);
}

// The body is built in place in imageBuffer: page header plus whole pages
// must fit, which leaves 767 pages of source image.
constexpr std::uint32_t MAX_SOURCE_LENGTH =
    (IMAGE_BUFFER_SIZE - PAGE_HEADER_SIZE) / PAGE_SIZE * PAGE_SIZE;
// Page header and the first four pages: what the first code-update packet carries.
constexpr std::uint32_t PARTIAL_ENCRYPT_LENGTH = PAGE_HEADER_SIZE + 4 * PAGE_SIZE;

// Loads the input and finds the source image in imageBuffer. A HEX image
// stays where the reader put it (at its lower bound), so it is taken from
// there rather than from offset 0.
bool loadSource(const PackageRequest& request, std::uint32_t& offset, std::uint32_t& length)
{
    const char* name = request.fileName;
    const std::uint8_t fileType = request.fileType;
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    if (fileType == TYPE_MAIN_HEX || fileType == TYPE_DSP_HEX) {
        if (!readHexFile(name, fileType))
            return false;
        ImageExtent extent{};
        if (!loadedImageExtent(fileType, false, nMinHexAddress, nMaxHexAddress, &extent)) {
            consolePrint("No data to encrypt in: %s", name);
            return false;
        }
        start = extent.base;
        size = extent.size;
    } else {
        // Package mode loads plain files; the request's type stays as it is.
        std::uint8_t loadedType = fileType;
        size = loadUpdateFile(name, request.packagedInput, loadedType);
        if (size == 0)
            return false;
    }
    if (size > MAX_SOURCE_LENGTH || start + size > IMAGE_BUFFER_SIZE) {
        consolePrint("Image too large to encrypt: %s", name);
        return false;
    }
    offset = static_cast<std::uint32_t>(start);
    length = static_cast<std::uint32_t>(size);
    return true;
}

void putU16(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

// Turns the source image into the plain package body at offset 0 of
// imageBuffer and returns the body length.
std::uint32_t buildBody(std::uint32_t offset, std::uint32_t length)
{
    std::uint8_t copied[4] = {};
    for (std::uint32_t i = 4; i < 8 && i < length; ++i)
        copied[i - 4] = imageBuffer[offset + i];

    std::memmove(imageBuffer + PAGE_HEADER_SIZE, imageBuffer + offset, length);

    std::uint32_t body = length + PAGE_HEADER_SIZE;
    if (body < PAGE_HEADER_SIZE + PAGE_SIZE)
        body = PAGE_HEADER_SIZE + PAGE_SIZE;
    body = pagesOf(body - PAGE_HEADER_SIZE) * PAGE_SIZE + PAGE_HEADER_SIZE;
    // Whatever lay behind the image (an image moved down from its lower
    // bound, reader leftovers) must not end up in the padding.
    const std::uint32_t imageEnd = PAGE_HEADER_SIZE + length;
    std::memset(imageBuffer + imageEnd, 0, body - imageEnd);

    putU16(imageBuffer, length);
    std::memcpy(imageBuffer + 4, copied, sizeof copied);
    putU16(imageBuffer + 2,
           updateCrc16(imageBuffer + PAGE_HEADER_SIZE, body - PAGE_HEADER_SIZE));
    return body;
}

void encipherBody(const PackageRequest& request, std::uint32_t bodyLength)
{
    std::uint32_t encrypted = bodyLength;
    if (request.partialEncrypt && encrypted > PARTIAL_ENCRYPT_LENGTH)
        encrypted = PARTIAL_ENCRYPT_LENGTH;
    cbcRun(imageBuffer, encrypted, request.key, 1);
}

bool writeBytes(std::FILE* file, const std::uint8_t* data, std::uint32_t length)
{
    return packageWrite(data, 1, length, file) == length;
}

bool writeContents(std::FILE* file, std::uint8_t fileType, std::uint32_t bodyLength)
{
    std::uint8_t head[2] = {PACKAGE_MAGIC, fileType};
    std::uint8_t minBound[4];
    std::uint8_t maxBound[4];
    for (int i = 0; i < 4; ++i) {
        minBound[i] = static_cast<std::uint8_t>(nMinHexAddress >> (8 * i));
        maxBound[i] = static_cast<std::uint8_t>(nMaxHexAddress >> (8 * i));
    }
    std::uint8_t crc[2];
    putU16(crc, updateCrc16(imageBuffer, bodyLength));
    return writeBytes(file, head, sizeof head) && writeBytes(file, minBound, sizeof minBound) &&
           writeBytes(file, maxBound, sizeof maxBound) && writeBytes(file, crc, sizeof crc) &&
           writeBytes(file, imageBuffer, bodyLength);
}

// Where creating the output itself would fail, so must the write that
// replaces it: on a directory, or on a file the user may not write. An
// existing package hands its permission bits on to its replacement.
bool outputReplaceable(const char* name, fs::perms& keep)
{
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    if (status.type() == fs::file_type::not_found)
        return true;
    if (status.type() != fs::file_type::regular || !platformFileWritable(name))
        return false;
    keep = status.permissions();
    return true;
}

// The temporary takes a name nobody uses yet, so no file of the user's is
// ever overwritten or removed.
std::FILE* createTemporary(const char* outputName, char* tempName, std::size_t size)
{
    for (int number = 1; number <= TEMP_NAME_TRIES; ++number) {
        std::snprintf(tempName, size, "%s.%d%s", outputName, number, PACKAGE_TEMP_SUFFIX);
        if (std::FILE* file = platformCreateNewFile(tempName))
            return file;
        std::error_code error;
        if (!fs::exists(fs::symlink_status(tempName, error)))
            return nullptr;
    }
    return nullptr;
}

// Writes beside the output and renames onto it only when everything is on
// disk, so a failed run never leaves a cut package nor loses the old one.
// An output name that is a symbolic link keeps it: the link's target is
// written, as a plain create would write through the link.
int writePackage(const ImageKind& kind, std::uint32_t bodyLength)
{
    fs::perms keep = fs::perms::unknown;
    char target[PATH_TEXT_SIZE];
    char tempName[PATH_TEXT_SIZE + 16];
    std::FILE* file = nullptr;
    if (platformLinkTarget(kind.outputName, target, sizeof target) &&
        outputReplaceable(target, keep))
        file = createTemporary(target, tempName, sizeof tempName);
    if (file == nullptr) {
        consolePrint("Could not open: %s", kind.outputName);
        return 0;
    }
    bool written = writeContents(file, kind.fileType, bodyLength);
    written = (std::fclose(file) == 0) && written;
    std::error_code error;
    if (written && keep != fs::perms::unknown) {
        fs::permissions(tempName, keep, error);
        written = !error;
    }
    if (written) {
        fs::rename(tempName, target, error);
        written = !error;
    }
    if (!written) {
        std::remove(tempName);
        consolePrint("Could not write: %s", kind.outputName);
        return 0;
    }
    return 1;
}

// The transfer of the package would refuse an image that leaves its
// kind's pages: say so as it would, and write nothing.
bool packageFitsItsPages(const ImageKind& kind, std::uint32_t bodyLength)
{
    const PagePlan plan = planPages(kind, true, bodyLength);
    if (plan.verdict == PagePlanVerdict::DSP_TOO_LARGE)
        consolePrint(DSP_OVER_ALLOTMENT_TEXT, static_cast<int>(plan.endPage));
    else if (plan.verdict == PagePlanVerdict::OVER_ALLOTMENT)
        consolePrint(IMAGE_OVER_ALLOTMENT_TEXT, static_cast<int>(plan.imagePages),
                     static_cast<int>(pageAllotment(kind)));
    return plan.verdict == PagePlanVerdict::FITS;
}

}  // namespace

PackageWriteFn packageWrite = standardWrite;

int writeUpdatePackage(const PackageRequest& request)
{
    const ImageKind* kind = imageKindOf(request.fileType);
    if (kind == nullptr) {
        consolePrint("No file has been specified to encrypt\n");
        return 0;
    }
    consolePrint("%s", kind->startMessage);

    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    if (!loadSource(request, offset, length))
        return 0;
    const std::uint32_t bodyLength = buildBody(offset, length);
    if (!packageFitsItsPages(*kind, bodyLength))
        return 0;
    encipherBody(request, bodyLength);
    return writePackage(*kind, bodyLength);
}
