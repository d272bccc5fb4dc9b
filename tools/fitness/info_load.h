// Loading a file as VNloader would, keeping the loader's own words.
#pragma once

#include <cstdint>

#include "info_report.h"

// Loads report.path into imageBuffer with VNloader's loader for a package
// (packaged) or a plain file of fileType. Sets report.loaderMessage and
// report.loaderAccepted; returns the loader's result.
std::uint32_t loadLikeVNloader(InfoReport& report, bool packaged, std::uint8_t fileType);
