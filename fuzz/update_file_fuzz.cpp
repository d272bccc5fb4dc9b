// readUpdateFile on arbitrary files. The first input byte picks packaged or
// raw input, the preset fileType and whether the file is stretched to the
// size of the image buffer (to reach the size limits); the rest is the file.
#include <cstring>
#include <vector>

#include "app/loaders.h"
#include "app/settings.h"
#include "fuzz_support.h"
#include "image/crc16.h"
#include "image/image_buffer.h"

namespace {
std::uint32_t u32At(const std::uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool bufferHolds(const std::uint8_t* bytes, std::size_t count, std::uint32_t at)
{
    static const std::uint8_t zeros[IMAGE_BUFFER_SIZE] = {};
    if (count != 0 && std::memcmp(imageBuffer + at, bytes, count) != 0)
        return false;
    const std::size_t rest = at + count;
    return std::memcmp(imageBuffer + rest, zeros, IMAGE_BUFFER_SIZE - rest) == 0;
}

bool bufferZero()
{
    return bufferHolds(nullptr, 0, 0);
}

void checkPackage(const std::vector<std::uint8_t>& file, std::uint32_t loaded)
{
    FUZZ_CHECK(file.size() > PACKAGE_HEADER_SIZE);
    FUZZ_CHECK(file[0] == PACKAGE_MAGIC);
    const auto type = static_cast<std::int8_t>(file[1]);
    FUZZ_CHECK(type >= 1 && type <= 7);
    FUZZ_CHECK(settings.fileType == file[1]);
    FUZZ_CHECK(nMinHexAddress == u32At(&file[2]));
    const std::size_t body = file.size() - PACKAGE_HEADER_SIZE;
    FUZZ_CHECK(loaded == (body < IMAGE_BUFFER_SIZE ? body : IMAGE_BUFFER_SIZE));
    FUZZ_CHECK(bufferHolds(&file[PACKAGE_HEADER_SIZE], loaded, 0));
    FUZZ_CHECK(updateCrc16(imageBuffer, loaded) == (file[10] | file[11] << 8));
}

void checkRaw(const std::vector<std::uint8_t>& file, std::uint32_t loaded, std::uint8_t type)
{
    FUZZ_CHECK(settings.fileType == type);
    FUZZ_CHECK(nMinHexAddress == 0);
    if (type == TYPE_HTML) {
        FUZZ_CHECK(loaded == (file.size() < IMAGE_BUFFER_SIZE ? file.size() : IMAGE_BUFFER_SIZE));
        FUZZ_CHECK(bufferHolds(file.data(), loaded, 0));
        return;
    }
    // Prefix and content fit whole, or the file is refused.
    FUZZ_CHECK(file.size() + 2 <= IMAGE_BUFFER_SIZE);
    FUZZ_CHECK(loaded == file.size() + 2);
    FUZZ_CHECK((imageBuffer[0] | imageBuffer[1] << 8) == (file.size() & 0xFFFF));
    FUZZ_CHECK(bufferHolds(file.data(), file.size(), 2));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t control = data[0];
    const bool packaged = control & 1;
    const auto presetType = static_cast<std::uint8_t>((control >> 1) & 7);
    // Rare, as stretched runs are slow: the high nibble all ones.
    const bool stretch = (control & 0xF0) == 0xF0;
    // One buffer for the whole run: large allocations are slow under ASan.
    static std::vector<std::uint8_t> file;
    file.assign(data + 1, data + size);
    if (stretch && !file.empty()) {
        // Sizes at the limits: a raw file with its 2-byte prefix, a raw html
        // file, a package body, each just below, at and above the buffer.
        static const std::size_t sizes[8] = {IMAGE_BUFFER_SIZE - 3,  IMAGE_BUFFER_SIZE - 2,
                                             IMAGE_BUFFER_SIZE - 1,  IMAGE_BUFFER_SIZE,
                                             IMAGE_BUFFER_SIZE + 1,  IMAGE_BUFFER_SIZE + 11,
                                             IMAGE_BUFFER_SIZE + 12, IMAGE_BUFFER_SIZE + 13};
        // The last byte picks one (the first of a package is its magic).
        const std::size_t target = sizes[file.back() & 7];
        std::size_t filled = file.size();
        file.resize(target);
        while (filled < target) {
            const std::size_t chunk = filled < target - filled ? filled : target - filled;
            std::memcpy(file.data() + filled, file.data(), chunk);
            filled += chunk;
        }
    }

    fuzz::quietConsole();
    fuzz::writeScratch(file.data(), file.size());
    resetSettings();
    settings.packagedInput = packaged ? 1 : 0;
    settings.fileType = presetType;
    std::memset(imageBuffer, 0x5A, IMAGE_BUFFER_SIZE);
    nMinHexAddress = 7;
    nMaxHexAddress = 9;

    const std::uint32_t loaded = readUpdateFile(fuzz::scratchPath().c_str());
    if (loaded == 0) {
        const std::string& said = fuzz::consoleText();
        FUZZ_CHECK(!said.empty());
        // Only a CRC mismatch leaves the body it checked.
        if (said.rfind("Bad crc from: ", 0) != 0)
            FUZZ_CHECK(bufferZero());
        if (!packaged)
            FUZZ_CHECK(settings.fileType == presetType);
        return 0;
    }
    FUZZ_CHECK(fuzz::consoleText().empty());
    FUZZ_CHECK(loaded == nMaxHexAddress);
    FUZZ_CHECK(loaded <= IMAGE_BUFFER_SIZE);
    if (packaged)
        checkPackage(file, loaded);
    else
        checkRaw(file, loaded, presetType);
    return 0;
}
