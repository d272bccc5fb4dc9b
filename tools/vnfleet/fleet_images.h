// Every distinct file of a list: checked once before anything is sent
// (loaded with VNloader's loaders, then let go), loaded again when its first
// device starts and kept read-only for all the devices that take it, and let
// go when no device waiting or in flight needs it.
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
    int waiting;         // devices not yet ended that take it
};

// Loads the image for a starting device when it is not loaded; false with
// *why when it no longer loads or its bytes are not those checked.
bool acquireImage(FleetImage* image, std::string* why);
// A device that took the image has ended: the last lets the bytes go.
void releaseImage(FleetImage* image);

// SHA-256 of the file's bytes in lower-case hex; empty when it cannot be read.
std::string fileDigest(const std::string& path);

// The image as this device is sent it, for its report line.
ImageIdentity identityOf(const FleetImage& image, const DeviceEntry& device);

// A device's session setup over its shared image.
TransferSetup fleetSetup(const FleetImage& image, const DeviceEntry& device);

// Checks the images and sets each device's image index; false after
// reporting, on the line of the first device naming it, why a file cannot
// be loaded or sent, or VNinfo calls it unfit (unless allowUnfit). Keeps no
// image's bytes.
bool loadImages(const std::string& listPath, bool allowUnfit, std::vector<DeviceEntry>* devices,
                std::vector<FleetImage>* images);
