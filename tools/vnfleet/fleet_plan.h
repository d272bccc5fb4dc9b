// --dry-run: what would be sent, without sending.
#pragma once

#include "fleet_run.h"

void printPlan(const FleetRun& run);
