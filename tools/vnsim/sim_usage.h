// VNsim's exit statuses and its usage text, which is made from them.
#pragma once

#include <cstdio>

#include "companion_cli.h"

extern const ExitStatusRow simExitStatuses[5];

// The options (simUsageText), then one line per exit status.
void writeUsage(std::FILE* to);
