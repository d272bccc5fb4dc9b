// VNinfo's checks of one file, as a library: VNinfo prints what they find,
// VNfleet stops a run on a file they call unfit.
#pragma once

#include "info_report.h"
#include "fitness_options.h"

// Inspects infoOptions.path as infoOptions asks, without a device, and
// fills report (path and input kind included). Loads the file into
// imageBuffer and rewrites the settings record, as VNloader would.
void inspectFile(InfoReport& report);
