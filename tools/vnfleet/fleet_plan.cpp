#include "fleet_plan.h"

#include <cstdio>
#include <string>

#include "companion_cli.h"
#include "image/image_kinds.h"
#include "link/packets.h"

namespace {
unsigned pagesOf(const FleetImage& image)
{
    return static_cast<unsigned>(image.endPage - image.firstPage);
}

unsigned packetsOf(const FleetImage& image)
{
    return (pagesOf(image) + PAGES_PER_PACKET - 1) / PAGES_PER_PACKET;
}
}  // namespace

void printPlan(const FleetRun& run)
{
    const std::vector<DeviceEntry>& devices = *run.devices;
    const std::vector<FleetImage>& images = *run.images;
    // Every count is of the devices that would be sent to, and their files.
    std::size_t sending = 0;
    unsigned long long pages = 0;
    unsigned long long packets = 0;
    std::vector<int> sendingTo(images.size(), 0);
    for (const DeviceEntry& device : devices) {
        if (skippedByResume(run, device))
            continue;
        ++sending;
        const FleetImage& image = images[static_cast<std::size_t>(device.image)];
        ++sendingTo[static_cast<std::size_t>(device.image)];
        pages += pagesOf(image);
        packets += packetsOf(image) + 1;
    }
    std::size_t files = 0;
    for (int count : sendingTo)
        files += count > 0 ? 1 : 0;
    companionPrint("VNfleet: plan: %s, %s, %s, %s\n", countedNoun(sending, "device").c_str(),
                   countedNoun(files, "file").c_str(), countedNoun(pages, "page").c_str(),
                   countedNoun(packets, "packet").c_str());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const FleetImage& image = images[i];
        if (sendingTo[i] > 0)
            companionPrint("file %s: %s%s, pages %u to %u (%s, %s and the finish packet), %s\n",
                           image.file.c_str(), imageKindOf(image.fileType)->name,
                           image.typeLetter == 0 ? " from an update package" : "", image.firstPage,
                           image.endPage - 1u, countedNoun(pagesOf(image), "page").c_str(),
                           countedNoun(packetsOf(image), "packet").c_str(),
                           countedNoun(static_cast<unsigned long long>(sendingTo[i]), "device").c_str());
    }
    for (const DeviceEntry& device : devices)
        companionPrint("device %s: %s%s\n", device.address.c_str(), device.file.c_str(),
                       skippedByResume(run, device) ? " (skipped: updated in an earlier run)"
                                                           : "");
}
