// Messages about failed system or socket calls, prefixed with the pending
// system error text.
#pragma once

#include <cstddef>

#include "diag/console.h"

constexpr std::size_t LOG_LINE_SIZE = 10000;
constexpr std::size_t ERROR_TEXT_SIZE = 1000;

void logMessage(const char* format, ...) VN_PRINTF(1, 2);

// "text (code)" or "Errno = code" into buffer; nullptr when no error is
// pending.
char* systemErrorText(char* buffer, std::size_t size);

// Tests replace where the error code and its wording come from.
struct ErrorSource {
    int (*pendingError)();
    int (*systemText)(int code, char* buffer, std::size_t size);
};
void setErrorSource(const ErrorSource* source);  // nullptr: the platform's
