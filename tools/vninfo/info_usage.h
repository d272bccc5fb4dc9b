// VNinfo's exit statuses and its usage text, which is made from them.
#pragma once

#include <cstdio>

#include "companion_cli.h"

extern const ExitStatusRow infoExitStatuses[11];

// The options (infoUsageText), then the exit statuses.
void writeInfoUsage(std::FILE* to);
