// readDeviceList on arbitrary list files: every device it accepts has an
// address VNfleet may send to, once, a file and a known kind, in the order
// of the list's lines.
#include <algorithm>
#include <set>

#include "fleet_address.h"
#include "fleet_list.h"
#include "fuzz_support.h"
#include "image/image_kinds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::writeScratch(data, size);
    FleetOptions options;
    options.listPath = fuzz::scratchPath();
    options.file = "main.enc";
    std::vector<DeviceEntry> devices;
    if (!readDeviceList(options, &devices))
        return 0;
    FUZZ_CHECK(!devices.empty());
    const int lines = 1 + static_cast<int>(std::count(data, data + size, '\n'));
    std::set<std::uint32_t> addresses;
    int previous = 0;
    for (const DeviceEntry& device : devices) {
        std::uint32_t ip = 0;
        std::string problem;
        FUZZ_CHECK(parseDeviceAddress(device.address, &ip, &problem) && ip == device.ip);
        FUZZ_CHECK(addresses.insert(ip).second);
        FUZZ_CHECK(device.line > previous && device.line <= lines);
        previous = device.line;
        FUZZ_CHECK(!device.file.empty());
        FUZZ_CHECK(device.typeLetter == 0 || imageKindOfLetter(device.typeLetter));
    }
    return 0;
}
