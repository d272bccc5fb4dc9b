#include "image/update_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "diag/console.h"
#include "image/crc16.h"
#include "image/file_types.h"
#include "image/image_buffer.h"
#include "image/input_file.h"

namespace {

constexpr std::uint32_t LENGTH_PREFIX_SIZE = 2;
constexpr std::int8_t LOWEST_PACKAGE_TYPE = 1;
constexpr std::int8_t HIGHEST_PACKAGE_TYPE = 7;

// A read error is never taken for the end of the file.
bool readFailed(std::FILE* file, const char* path)
{
    if (!std::ferror(file))
        return false;
    consolePrint("Could not read: %s", path);
    return true;
}

// Reads a little-endian field of up to four bytes over the low-order bytes
// of value. A field that the end of the file cuts short keeps its high-order
// bytes; a read that yields nothing fails with the field's message, a read
// error with its own.
bool readField(std::FILE* file, const char* path, unsigned width, std::uint32_t& value,
               const char* fieldName)
{
    std::uint8_t bytes[4];
    const std::size_t got = std::fread(bytes, 1, width, file);
    for (std::size_t i = 0; i < got; ++i) {
        const unsigned shift = static_cast<unsigned>(8 * i);
        value = (value & ~(0xFFu << shift)) | (static_cast<std::uint32_t>(bytes[i]) << shift);
    }
    if (readFailed(file, path))
        return false;
    if (got == 0)
        consolePrint("Could not read %s from: %s", fieldName, path);
    return got != 0;
}

// Checks the 12-byte package header and takes fileType and the bounds from it.
bool readPackageHeader(std::FILE* file, const char* path, std::uint8_t& fileType, std::uint16_t& heldCrc)
{
    std::uint32_t magic = 0;
    if (!readField(file, path, 1, magic, "Magic Number"))
        return false;
    if (magic != PACKAGE_MAGIC) {
        consolePrint("Wrong Magic Number, This is not an ORLIX microcode update file: %s", path);
        return false;
    }

    std::uint32_t type = fileType;
    const bool typeRead = readField(file, path, 1, type, "File Type");
    fileType = static_cast<std::uint8_t>(type);
    if (!typeRead)
        return false;
    const auto signedType = static_cast<std::int8_t>(fileType);
    if (signedType < LOWEST_PACKAGE_TYPE || signedType > HIGHEST_PACKAGE_TYPE) {
        consolePrint("Bad File Type, This is not an ORLIX microcode update file: %s", path);
        return false;
    }

    std::uint32_t crc = 0;
    if (!readField(file, path, 4, nMinHexAddress, "nMinHexAddress") ||
        !readField(file, path, 4, nMaxHexAddress, "nMaxHexAddress") ||
        !readField(file, path, 2, crc, "crc"))
        return false;
    heldCrc = static_cast<std::uint16_t>(crc);
    return true;
}

}  // namespace

std::uint32_t loadUpdateFile(const char* path, bool packaged, std::uint8_t& fileType)
{
    std::uint16_t heldCrc = 0;
    nMinHexAddress = 0;
    std::memset(imageBuffer, 0, sizeof imageBuffer);

    std::FILE* file = openInputFile(path);
    if (file == nullptr) {
        consolePrint("Could not open: %s", path);
        return 0;
    }

    if (packaged && !readPackageHeader(file, path, fileType, heldCrc)) {
        std::fclose(file);
        return 0;
    }

    std::uint32_t loaded = 0;
    if (!packaged && fileType != TYPE_HTML) {
        // The content goes straight behind its length prefix; a file that
        // would not fit with it is refused rather than cut.
        loaded = static_cast<std::uint32_t>(std::fread(imageBuffer + LENGTH_PREFIX_SIZE, 1,
                                                       IMAGE_BUFFER_SIZE - LENGTH_PREFIX_SIZE, file));
        if (loaded == IMAGE_BUFFER_SIZE - LENGTH_PREFIX_SIZE && std::fgetc(file) != EOF) {
            std::fclose(file);
            std::memset(imageBuffer, 0, sizeof imageBuffer);
            consolePrint("File too large for the image buffer: %s", path);
            return 0;
        }
        imageBuffer[0] = static_cast<std::uint8_t>(loaded);
        imageBuffer[1] = static_cast<std::uint8_t>(loaded >> 8);
        loaded += LENGTH_PREFIX_SIZE;
    } else {
        // Package bodies past the buffer are not read; the CRC check catches them.
        loaded = static_cast<std::uint32_t>(std::fread(imageBuffer, 1, IMAGE_BUFFER_SIZE, file));
    }
    const bool readError = readFailed(file, path);
    std::fclose(file);
    if (readError) {
        std::memset(imageBuffer, 0, sizeof imageBuffer);
        return 0;
    }

    if (packaged) {
        if (updateCrc16(imageBuffer, loaded) != heldCrc) {
            consolePrint("Bad crc from: %s, this file appears corrupted", path);
            return 0;
        }
        // The CRC of no bytes is 0, so an empty body with CRC 0 gets here.
        if (loaded == 0) {
            consolePrint("Empty update package: %s", path);
            return 0;
        }
    } else if (loaded == 0) {
        consolePrint("Empty file: %s", path);
        return 0;
    }

    nMaxHexAddress = loaded;
    return loaded;
}
