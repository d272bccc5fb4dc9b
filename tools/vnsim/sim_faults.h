// Faults put into the device's answers on request, for testing the loader.
#pragma once

#include "sim_device.h"
#include "sim_options.h"

// Applies the faults that are due to this answer (each acts once; the
// first --drop replies are not sent at all), decides whether the run ends
// with it, and completes its line with what will be sent.
void applyFaults(SimAnswer* answer);

// What the faults have done so far. Each device of a fleet keeps its own and
// has it restored before its datagram is handled and saved after.
struct SimFaultProgress {
    long repliesDropped;
    bool used[SIM_MAX_FAULTS];
};
void saveFaultProgress(SimFaultProgress* progress);
void restoreFaultProgress(const SimFaultProgress* progress);
