#include "fleet_limits.h"

#include <cstdio>

#include "platform/ledger_files.h"
#include "platform/platform.h"
#include "companion_cli.h"

int devicesInFlightAllowed(int wanted)
{
    platformRaiseOpenFileLimit(wanted + FLEET_SPARE_DESCRIPTORS);
    long limit = platformOpenFileLimit();
    if (limit - FLEET_SPARE_DESCRIPTORS >= wanted)
        return wanted;
    int allowed = limit > FLEET_SPARE_DESCRIPTORS + 1
                      ? static_cast<int>(limit - FLEET_SPARE_DESCRIPTORS)
                      : 1;
    companionError("VNfleet: at most %d devices in flight: the open-file limit is %ld\n",
                   allowed, limit);
    return allowed;
}

int socketsAllowed(int wanted)
{
    platformRaiseOpenFileLimit(wanted + FLEET_SPARE_DESCRIPTORS);
    long limit = platformOpenFileLimit() - FLEET_SPARE_DESCRIPTORS;
    if (limit >= wanted)
        return wanted;
    return limit > 1 ? static_cast<int>(limit) : 1;
}
