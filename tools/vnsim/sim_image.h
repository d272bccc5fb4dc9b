// The image as the device rebuilds it from the pages it kept.
#pragma once

#include <cstdint>
#include <vector>

#include "sim_device.h"

// Pages of [first, end) that never arrived.
int missingPages(int first, int end);

// The CRC the finish packet must carry: over (end - first) * 256 bytes of
// the stream as sent, the page header first when one came.
std::uint16_t receivedCrc(int first, int end);

// A plain image: the pages of [first, end) in order.
void plainImage(int first, int end, std::vector<std::uint8_t>* image);

// A packaged image: deciphers what travelled enciphered (with the key
// given), checks the page header's CRC and leaves in image the padded image
// that the header names; every page received when that cannot be told.
SimHeaderCheck packagedImage(int first, int end, std::vector<std::uint8_t>* image);

// The pages of the padded image the page header names and whose CRC it
// holds, 0 when none fits. The header keeps only the low 16 bits of the
// source length, so each length that fits the pages received is tried.
std::uint32_t pageHeaderPages(const std::uint8_t* body, std::uint32_t pagesReceived);

bool writeImageFile(const char* path, const std::vector<std::uint8_t>& image);
