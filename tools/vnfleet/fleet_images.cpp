#include "fleet_images.h"

#include <algorithm>
#include <cstring>

#include "app/command_line.h"
#include "app/settings.h"
#include "diag/console.h"
#include "image/hex_reader.h"
#include "image/image_buffer.h"
#include "image/update_file.h"

namespace {
std::string captured;

void capture(const char* text, std::size_t length)
{
    captured.append(text, length);
}

// VNloader's load for a file and type letter, into imageBuffer. False with
// the loader's own message.
bool loadLikeVNloader(const std::string& file, char typeLetter, std::uint8_t* fileType,
                      std::string* message)
{
    resetSettings();
    std::uint8_t type = 0;
    settings.packagedInput = typeLetter == 0 ? 1 : 0;
    if (typeLetter != 0)
        mapTypeLetter(static_cast<std::uint8_t>(typeLetter), &type);
    settings.fileType = type;
    std::snprintf(settings.fileName, sizeof settings.fileName, "%s", file.c_str());
    captured.clear();
    setConsoleSink(capture);
    std::uint32_t loaded = 0;
    if (typeLetter == 'M' || typeLetter == 'D')
        loaded = static_cast<std::uint32_t>(readHexFile(settings.fileName, type));
    else
        loaded = readUpdateFile(settings.fileName);
    setConsoleSink(nullptr);
    *fileType = settings.fileType;
    *message = captured;
    while (!message->empty() && (message->back() == '\n' || message->back() == '\r'))
        message->pop_back();
    return loaded != 0;
}

// Copies what the transfer reads of imageBuffer: the pages, the payload
// bytes after the last page and the finish CRC span. Past it all is zero.
void keepImage(FleetImage* image, std::uint8_t fileType)
{
    image->view = ImageView{nullptr, 0, image->typeLetter == 0, fileType, nMinHexAddress,
                            nMaxHexAddress};
    image->bytes.assign(imageBuffer, imageBuffer + IMAGE_BUFFER_SIZE);
    image->view.bytes = image->bytes.data();
    image->view.length = IMAGE_BUFFER_SIZE;
}

void trimImage(FleetImage* image)
{
    const TransferPlan& plan = image->plan;
    std::uint64_t span = static_cast<std::uint64_t>(plan.endPage - plan.firstPage) * PAGE_SIZE;
    std::uint64_t end = plan.base + std::max<std::uint64_t>(span, plan.size) + PAGE_HEADER_SIZE +
                        PAYLOAD_SIZE;
    if (end < IMAGE_BUFFER_SIZE) {
        image->bytes.resize(static_cast<std::size_t>(end));
        image->bytes.shrink_to_fit();
    }
    image->view.bytes = image->bytes.data();
    image->view.length = static_cast<std::uint32_t>(image->bytes.size());
}
}  // namespace

bool loadImages(const std::string& listPath, std::vector<DeviceEntry>* devices,
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
        FleetImage image{device.file, device.typeLetter, {}, {}, {}, 1};
        std::uint8_t fileType = 0;
        std::string message;
        if (!loadLikeVNloader(device.file, device.typeLetter, &fileType, &message)) {
            reportListProblem(listPath, device.line,
                              message.empty() ? "cannot load " + device.file : message);
            return false;
        }
        keepImage(&image, fileType);
        std::string reason;
        if (!planTransfer(image.view, &image.plan, &reason)) {
            reportListProblem(listPath, device.line, device.file + ": " + reason);
            return false;
        }
        trimImage(&image);
        device.image = static_cast<int>(images->size());
        images->push_back(std::move(image));
    }
    return true;
}
