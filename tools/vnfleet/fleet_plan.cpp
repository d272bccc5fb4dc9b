#include "fleet_plan.h"

#include <cstdio>

namespace {
const char* kindName(std::uint8_t fileType)
{
    static const char* const names[] = {"main", "DSP", "logo", "Java", "html"};
    return fileType >= 2 && fileType <= 6 ? names[fileType - 2] : "unknown";
}

unsigned pagesOf(const FleetImage& image)
{
    return static_cast<unsigned>(image.plan.endPage - image.plan.firstPage);
}
}  // namespace

void printPlan(const std::vector<DeviceEntry>& devices, const std::vector<FleetImage>& images,
               const std::set<std::string>& updatedBefore)
{
    std::size_t sending = 0;
    unsigned long long pages = 0;
    unsigned long long packets = 0;
    for (const DeviceEntry& device : devices) {
        if (updatedBefore.count(device.address))
            continue;
        ++sending;
        const FleetImage& image = images[static_cast<std::size_t>(device.image)];
        pages += pagesOf(image);
        packets += static_cast<unsigned>(packetsOf(image.plan)) + 1;
    }
    std::printf("VNfleet: plan: %zu devices, %zu files, %llu pages, %llu packets\n", sending,
                images.size(), pages, packets);
    for (const FleetImage& image : images)
        std::printf("file %s: %s image%s, pages %u to %u (%u pages, %d packets and the finish "
                    "packet), %d devices\n",
                    image.file.c_str(), kindName(image.view.fileType),
                    image.view.packaged ? " from an update package" : "", image.plan.firstPage,
                    image.plan.endPage - 1u, pagesOf(image), packetsOf(image.plan),
                    image.devices);
    for (const DeviceEntry& device : devices)
        std::printf("device %s: %s%s\n", device.address.c_str(), device.file.c_str(),
                    updatedBefore.count(device.address) ? " (skipped: updated in an earlier run)"
                                                        : "");
}
