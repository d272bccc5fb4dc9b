// VNsim's exit statuses and its usage text, which is made from them.
#pragma once

#include <cstdio>

#include "diag/console.h"

struct SimExitStatus {
    int status;
    const char* meaning;
};

extern const SimExitStatus simExitStatuses[];
extern const int simExitStatusCount;

// The options (simUsageText), then one line per exit status.
void writeUsage(std::FILE* to);

// A usage error or a failure, on standard error.
void simError(const char* format, ...) VN_PRINTF(1, 2);
