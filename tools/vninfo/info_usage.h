// VNinfo's exit statuses and its usage text, which is made from them.
#pragma once

#include <cstdio>

#include "diag/console.h"

struct InfoExitStatus {
    int status;
    const char* meaning;
};

extern const InfoExitStatus infoExitStatuses[];
extern const int infoExitStatusCount;

// The options (infoUsageText), then the exit statuses.
void writeInfoUsage(std::FILE* to);

// A usage error or a failure, on standard error.
void infoError(const char* format, ...) VN_PRINTF(1, 2);
