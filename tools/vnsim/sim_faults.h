// Faults put into the device's answers on request, for testing the loader.
#pragma once

#include "sim_device.h"

// Applies the faults that are due to this answer (each acts once; the
// first --drop replies are not sent at all), decides whether the run ends
// with it, and completes its line with what will be sent.
void applyFaults(SimAnswer* answer);
