#include "sim_image.h"

#include <cstdio>
#include <cstring>

#include "image/crc16.h"
#include "platform/text_names.h"
#include "sim_cipher.h"
#include "sim_options.h"

namespace {
constexpr int BLOCK = 8;

// Page header (when one came), then the pages of [first, end), a missing
// one as zeros; one flag per 8-byte block: it travelled enciphered.
void assembleStream(int first, int end, bool withHeader, std::vector<std::uint8_t>* stream,
                    std::vector<std::uint8_t>* flags)
{
    std::size_t headerSize = withHeader ? SIM_PAGE_HEADER_SIZE : 0;
    std::size_t pages = end > first ? static_cast<std::size_t>(end - first) : 0;
    stream->assign(headerSize + pages * SIM_PAGE_SIZE, 0);
    flags->assign(stream->size() / BLOCK, 0);
    if (withHeader) {
        std::memcpy(stream->data(), simState->header, SIM_PAGE_HEADER_SIZE);
        (*flags)[0] = simState->headerEnciphered ? 1 : 0;
    }
    for (int page = first; page < end; ++page) {
        auto kept = simState->pages.find(page);
        if (kept == simState->pages.end())
            continue;
        std::size_t at = headerSize + static_cast<std::size_t>(page - first) * SIM_PAGE_SIZE;
        std::memcpy(stream->data() + at, kept->second.bytes, SIM_PAGE_SIZE);
        for (std::size_t b = at / BLOCK; b < (at + SIM_PAGE_SIZE) / BLOCK; ++b)
            (*flags)[b] = kept->second.enciphered ? 1 : 0;
    }
}
}  // namespace

int missingPages(int first, int end)
{
    int missing = 0;
    for (int page = first; page < end; ++page)
        if (simState->pages.find(page) == simState->pages.end())
            ++missing;
    return missing;
}

std::uint16_t receivedCrc(int first, int end)
{
    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> flags;
    assembleStream(first, end, simState->haveHeader, &stream, &flags);
    std::uint32_t span = end > first ? static_cast<std::uint32_t>(end - first) * SIM_PAGE_SIZE : 0;
    return updateCrc16(stream.data(), span);
}

void plainImage(int first, int end, std::vector<std::uint8_t>* image)
{
    std::vector<std::uint8_t> flags;
    assembleStream(first, end, false, image, &flags);
}

std::uint32_t pageHeaderPages(const std::uint8_t* body, std::uint32_t pagesReceived)
{
    std::uint32_t sourceLength = getU16(body);
    std::uint16_t headerCrc = getU16(body + 2);
    for (std::uint32_t length = sourceLength;; length += 0x10000) {
        std::uint32_t pages = length / SIM_PAGE_SIZE + (length % SIM_PAGE_SIZE != 0 ? 1 : 0);
        if (pages == 0)
            pages = 1;  // the writer pads to at least one page
        if (pages > pagesReceived)
            return 0;
        if (updateCrc16(body + SIM_PAGE_HEADER_SIZE, pages * SIM_PAGE_SIZE) == headerCrc)
            return pages;
    }
}

SimHeaderCheck packagedImage(int first, int end, std::vector<std::uint8_t>* image)
{
    std::vector<std::uint8_t> body;
    std::vector<std::uint8_t> flags;
    assembleStream(first, end, true, &body, &flags);
    bool enciphered = false;
    for (std::uint8_t flag : flags)
        enciphered = enciphered || flag != 0;

    SimHeaderCheck check = HEADER_NO_KEY;
    std::uint32_t pages = static_cast<std::uint32_t>((body.size() - SIM_PAGE_HEADER_SIZE) / SIM_PAGE_SIZE);
    if (!enciphered || simOptions.keyGiven) {
        if (enciphered)
            decipherFlaggedBlocks(body.data(), flags.data(), flags.size(), simOptions.key);
        std::uint32_t named = pageHeaderPages(body.data(), pages);
        check = named != 0 ? HEADER_OK : HEADER_BAD;
        if (named != 0)
            pages = named;
    }
    image->assign(body.begin() + SIM_PAGE_HEADER_SIZE,
                  body.begin() + SIM_PAGE_HEADER_SIZE + static_cast<std::ptrdiff_t>(pages) * SIM_PAGE_SIZE);
    return check;
}

bool writeImageFile(const char* path, const std::vector<std::uint8_t>& image)
{
    std::FILE* file = platformOpenFile(path, "wb");
    if (!file)
        return false;
    bool written = image.empty() || std::fwrite(image.data(), 1, image.size(), file) == image.size();
    return std::fclose(file) == 0 && written;
}
