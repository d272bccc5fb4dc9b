// The files a run writes may not be the files it reads, nor each other, nor
// a folder: an operator's slip must not destroy a list or an image.
#pragma once

#include <vector>

#include "fleet_images.h"
#include "fleet_options.h"

// False after saying which output names which input.
bool outputsAreSafe(const FleetOptions& options, const std::vector<FleetImage>& images);
