// Every distinct file of a list, loaded once with VNloader's loaders and
// kept read-only for all the devices that take it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fleet_list.h"
#include "fleet_report.h"
#include "link/transfer_session.h"

struct FleetImage {
    std::string file;
    char typeLetter;  // 0: an update package
    std::vector<std::uint8_t> bytes;  // what the transfer reads of imageBuffer
    std::uint32_t minAddress;         // the bounds as the loader left them
    std::uint32_t maxAddress;
    std::uint8_t fileType;
    std::uint16_t firstPage;
    std::uint16_t endPage;
    int devices;
    std::string sha256;  // of the file's bytes as read
};

// The image as this device is sent it, for its report line.
ImageIdentity identityOf(const FleetImage& image, const DeviceEntry& device);

// A device's session setup over its shared image.
TransferSetup fleetSetup(const FleetImage& image, const DeviceEntry& device);

// Loads the images and sets each device's image index; false after
// reporting, on the line of the first device naming it, why a file cannot
// be loaded or sent.
bool loadImages(const std::string& listPath, std::vector<DeviceEntry>* devices,
                std::vector<FleetImage>* images);
