#include "fleet_images.h"

#include <algorithm>
#include <cstdio>

#include "app/transfer_words.h"
#include "fleet_unfit.h"
#include "diag/console_capture.h"
#include "image/hex_reader.h"
#include "image/image_buffer.h"
#include "image/image_geometry.h"
#include "image/image_kinds.h"
#include "image/update_file.h"
#include "platform/ledger_files.h"
#include "whole_file.h"

namespace {
std::string withoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// VNloader's load of a file into imageBuffer; false with the loader's own
// message.
bool loadLikeVNloader(const std::string& file, char typeLetter, FleetImage* image,
                      std::string* message)
{
    const ImageKind* kind = imageKindOfLetter(typeLetter);
    std::uint8_t fileType = kind ? kind->fileType : 0;
    std::uint32_t loaded = 0;
    {
        ConsoleCapture loaderWords;
        if (fileType == TYPE_MAIN_HEX || fileType == TYPE_DSP_HEX)
            loaded = static_cast<std::uint32_t>(readHexFile(file.c_str(), fileType));
        else
            loaded = loadUpdateFile(file.c_str(), typeLetter == 0, fileType);  // a package names its type
        *message = withoutLineEnd(ConsoleCapture::text());
    }
    image->fileType = fileType;
    image->minAddress = nMinHexAddress;
    image->maxAddress = nMaxHexAddress;
    return loaded != 0;
}

}  // namespace

std::string fileDigest(const std::string& path)
{
    std::string bytes;
    std::uint8_t digest[PLATFORM_SHA256_SIZE];
    if (!readWholeFile(path, &bytes))
        return "";
    if (!platformSha256(bytes.data(), bytes.size(), digest))
        return "";
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : digest) {
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
}

namespace {
// Keeps what a transfer reads: the image, the payload bytes after its last
// page and the finish packet's CRC span. Past that the buffer is all zeros,
// as the session reads past its view.
void keepImage(FleetImage* image)
{
    ImageExtent extent{};
    std::uint64_t end = IMAGE_BUFFER_SIZE;
    if (loadedImageExtent(image->fileType, image->typeLetter == 0, image->minAddress,
                          image->maxAddress, &extent)) {
        std::uint64_t span = static_cast<std::uint64_t>(image->endPage - image->firstPage) *
                             PAGE_SIZE;
        end = std::min<std::uint64_t>(end, extent.base + std::max<std::uint64_t>(span, extent.size) +
                                               PAGE_HEADER_SIZE + PAYLOAD_SIZE);
    }
    image->bytes.assign(imageBuffer, imageBuffer + end);
}
}  // namespace

ImageIdentity identityOf(const FleetImage& image, const DeviceEntry& device)
{
    const ImageKind* kind = imageKindOf(image.fileType);
    return ImageIdentity{image.sha256, kind ? kind->letter : '?', device.wholeEnciphered,
                         image.typeLetter == 0};
}

bool acquireImage(FleetImage* image, std::string* why)
{
    if (!image->bytes.empty())
        return true;
    FleetImage again = *image;
    std::string before = fileDigest(image->file);
    if (!loadLikeVNloader(image->file, image->typeLetter, &again, why)) {
        if (why->empty())
            *why = "cannot load " + image->file;
        return false;
    }
    if (before != image->sha256 || fileDigest(image->file) != image->sha256 ||
        again.minAddress != image->minAddress || again.maxAddress != image->maxAddress) {
        *why = "changed since the check: " + image->file;
        return false;
    }
    keepImage(image);
    return true;
}

void releaseImage(FleetImage* image)
{
    if (--image->waiting <= 0)
        std::vector<std::uint8_t>().swap(image->bytes);
}

TransferSetup fleetSetup(const FleetImage& image, const DeviceEntry& device)
{
    return TransferSetup{image.bytes.data(),
                         static_cast<std::uint32_t>(image.bytes.size()),
                         image.minAddress,
                         image.maxAddress,
                         static_cast<std::int8_t>(image.fileType),
                         image.typeLetter == 0,
                         !device.wholeEnciphered,
                         device.password.c_str(),
                         ReplyPolicy::DROP_STALE,
                         true};
}

bool loadImages(const std::string& listPath, bool allowUnfit, std::vector<DeviceEntry>* devices,
                std::vector<FleetImage>* images)
{
    for (DeviceEntry& device : *devices) {
        for (std::size_t i = 0; i < images->size(); ++i)
            if ((*images)[i].file == device.file && (*images)[i].typeLetter == device.typeLetter)
                device.image = static_cast<int>(i);
        if (device.image >= 0) {
            ++(*images)[static_cast<std::size_t>(device.image)].devices;
            continue;
        }
        FleetImage image{device.file, device.typeLetter, {}, 0, 0, 0, 0, 0, 1, {}, 0};
        std::string message;
        // The digest is of the bytes the loader read: the same before and after.
        image.sha256 = fileDigest(device.file);
        bool loaded = loadLikeVNloader(device.file, device.typeLetter, &image, &message);
        bool changed = loaded && image.sha256 != fileDigest(device.file);
        if (changed || (loaded && image.sha256.empty()))
            message = "changed while it was read: " + device.file;
        if (!loaded || changed || image.sha256.empty()) {
            reportListProblem(listPath, device.line,
                              message.empty() ? "cannot load " + device.file : message);
            return false;
        }
        // Planned over imageBuffer itself: a refusal is known before a copy.
        TransferSetup setup = fleetSetup(image, device);
        setup.image = imageBuffer;
        setup.imageSize = IMAGE_BUFFER_SIZE;
        TransferSession plan(setup, nullptr, nullptr);
        if (plan.action() == SessionAction::DONE) {
            char words[512];
            transferEndText(plan.outcome(), device.file.c_str(), words, sizeof words);
            reportListProblem(listPath, device.line, withoutLineEnd(words));
            return false;
        }
        image.firstPage = plan.firstPage();
        image.endPage = plan.endPage();
        if (!fitToSend(listPath, device, allowUnfit))
            return false;
        device.image = static_cast<int>(images->size());
        images->push_back(std::move(image));
    }
    return true;
}
