// readHexFile on arbitrary text, in byte mode (main CPU) or word mode (DSP),
// chosen at build time. On success the bounds must describe the image and
// nothing may lie outside them.
#include <cstring>

#include "app/settings.h"
#include "fuzz_support.h"
#include "image/hex_reader.h"
#include "image/image_buffer.h"
#include "image/image_geometry.h"

#ifndef VN_FUZZ_WORD_MODE
#define VN_FUZZ_WORD_MODE 0
#endif

namespace {
bool zeroOutside(std::uint32_t from, std::uint32_t to)
{
    static const std::uint8_t zeros[IMAGE_BUFFER_SIZE] = {};
    return std::memcmp(imageBuffer, zeros, from) == 0 &&
           std::memcmp(imageBuffer + to, zeros, IMAGE_BUFFER_SIZE - to) == 0;
}

void checkByteImage()
{
    if (nMinHexAddress == IMAGE_BUFFER_SIZE && nMaxHexAddress == 0) {
        FUZZ_CHECK(zeroOutside(0, 0));  // no data records
        return;
    }
    // Every record started at or below 0x20000 and holds at most 32 bytes.
    FUZZ_CHECK(nMinHexAddress <= nMaxHexAddress);
    FUZZ_CHECK(nMinHexAddress <= 0x20000);
    FUZZ_CHECK(nMaxHexAddress <= 0x20000 + 32);
    FUZZ_CHECK(zeroOutside(nMinHexAddress, nMaxHexAddress));
}

void checkWordImage()
{
    FUZZ_CHECK(nMinHexAddress <= nMaxHexAddress);
    FUZZ_CHECK(nMaxHexAddress <= 0xFFFF);  // the header holds the bounds whole
    const std::uint64_t start = 2ull * nMinHexAddress;
    const std::uint64_t end = start + wordImageLength(nMinHexAddress, nMaxHexAddress);
    FUZZ_CHECK(end <= IMAGE_BUFFER_SIZE);
    const std::uint8_t* header = imageBuffer + start;
    FUZZ_CHECK(static_cast<std::uint32_t>(header[0] | header[1] << 8) == nMinHexAddress);
    FUZZ_CHECK(static_cast<std::uint32_t>(header[2] | header[3] << 8) == nMaxHexAddress);
    FUZZ_CHECK(zeroOutside(static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end)));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::quietConsole();
    fuzz::writeScratch(data, size);
    const int type = VN_FUZZ_WORD_MODE ? TYPE_DSP_HEX : TYPE_MAIN_HEX;
    // Leftovers of the previous run must not survive the reset.
    std::memset(imageBuffer, 0x5A, IMAGE_BUFFER_SIZE);
    nMinHexAddress = 7;
    nMaxHexAddress = 9;

    const int result = readHexFile(fuzz::scratchPath().c_str(), type);
    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 0) {
        FUZZ_CHECK(!fuzz::consoleText().empty());  // a failure says why
        return 0;
    }
    FUZZ_CHECK(fuzz::consoleText().empty());
    if (VN_FUZZ_WORD_MODE)
        checkWordImage();
    else
        checkByteImage();
    return 0;
}
