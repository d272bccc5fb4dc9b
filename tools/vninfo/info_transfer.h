// The transfer VNloader would make of the loaded image, found by running
// its own transfer against a device that acknowledges every packet.
#pragma once

#include "info_report.h"

// Runs transferFile on imageBuffer as loaded, with the settings of the
// inspection (packagedInput, partialEncrypt, fileName), and fills
// report.transfer. Rewrites the bounds of a plain DSP image as the
// transfer does. Nothing is sent anywhere.
void planTransfer(InfoReport& report, int fileType);
