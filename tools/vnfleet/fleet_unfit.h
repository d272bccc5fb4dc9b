// VNinfo's checks on each file before a device sees it.
#pragma once

#include <string>

#include "fleet_list.h"

// Whether VNinfo would call the device's file fit to send as the device
// takes it; when not, says so naming the line and VNinfo's finding, and
// with allowUnfit lets it pass.
bool fitToSend(const std::string& listPath, const DeviceEntry& device, bool allowUnfit);
