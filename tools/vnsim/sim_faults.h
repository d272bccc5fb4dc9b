// Faults put into the device's answers on request, for testing the loader.
#pragma once

#include "sim_device.h"
#include "sim_options.h"

// Applies the faults that are due to this answer (each acts once; the
// first --drop replies are not sent at all), decides whether the run ends
// with it, and completes its line with what will be sent.
void applyFaults(SimAnswer* answer);

// The answer held back by --late-at, once the finish packet has come:
// false when none is held. It is given once.
bool takeLateAnswer(SimAnswer* late);

// What the faults have done so far. Each device of a fleet keeps its own and
// has it restored before its datagram is handled and saved after.
struct SimFaultProgress {
    long repliesDropped;
    bool used[SIM_MAX_FAULTS];
    bool lateHeld;
    SimAnswer late;
};
void saveFaultProgress(SimFaultProgress* progress);
void restoreFaultProgress(const SimFaultProgress* progress);
