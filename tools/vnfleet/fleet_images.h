// Every distinct file of a list, loaded once with VNloader's loaders and
// kept read-only for all the devices that take it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fleet_list.h"
#include "fleet_session.h"

struct FleetImage {
    std::string file;
    char typeLetter;  // 0: an update package
    std::vector<std::uint8_t> bytes;
    ImageView view;  // over bytes
    TransferPlan plan;
    int devices;
};

// Loads the images and sets each device's image index; false after
// reporting, with the line of the first device naming it, why a file
// cannot be loaded or sent.
bool loadImages(const std::string& listPath, std::vector<DeviceEntry>* devices,
                std::vector<FleetImage>* images);
