// A raw Java, logo or html file, loaded as VNloader -NE -T J, L or H
// loads it.
#pragma once

#include <cstdint>

#include "info_report.h"

// Fills report.raw; leaves the image loaded in imageBuffer when the loader
// takes it.
void inspectRaw(InfoReport& report, std::uint8_t fileType);
