// The transfer VNloader would make of the loaded image, found by running
// its transfer session against a device that acknowledges every packet.
#pragma once

#include "info_report.h"

// Runs a transfer session on imageBuffer as loaded, with the settings of
// the inspection (packagedInput, partialEncrypt, fileName), and fills
// report.transfer. Nothing is sent anywhere.
void planTransfer(InfoReport& report, int fileType);
