// VNinfo's exit statuses and its usage text, which is made from them.
#pragma once

#include <cstdio>

#include "info_statuses.h"

// The options (infoUsageText), then the exit statuses.
void writeInfoUsage(std::FILE* to);
