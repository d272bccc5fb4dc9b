// VNinfo's exit statuses: what each kind of finding means.
#pragma once

#include "companion_cli.h"

extern const ExitStatusRow infoExitStatuses[12];
