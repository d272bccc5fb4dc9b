// A plain Intel HEX file, loaded as VNloader -NE -T M or -T D loads it.
#pragma once

#include <cstdint>

#include "info_report.h"

// Fills report.hex: bounds, data runs and gaps, and a DSP file's word
// image. Leaves the image loaded in imageBuffer when the reader takes it.
void inspectHex(InfoReport& report, std::uint8_t fileType);
