// --dry-run: what would be sent, without sending.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "fleet_images.h"
#include "fleet_list.h"

void printPlan(const std::vector<DeviceEntry>& devices, const std::vector<FleetImage>& images,
               const std::set<std::string>& updatedBefore);
