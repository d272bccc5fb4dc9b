#include "diag/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {
const ErrorSource platformSource{platformPendingError, platformSystemText};
const ErrorSource* errorSource = &platformSource;

// Appends to a bounded line; the line is cut, never overrun.
VN_PRINTF(4, 0) void appendFormatted(char* line, std::size_t size, std::size_t* used, const char* format,
                     va_list args)
{
    if (*used + 1 >= size)
        return;
    int n = std::vsnprintf(line + *used, size - *used, format, args);
    if (n > 0)
        *used += static_cast<std::size_t>(n) < size - *used ? static_cast<std::size_t>(n)
                                                            : size - *used - 1;
}
}  // namespace

void setErrorSource(const ErrorSource* source)
{
    errorSource = source ? source : &platformSource;
}

char* systemErrorText(char* buffer, std::size_t size)
{
    int code = errorSource->pendingError();
    if (code == 0)
        return nullptr;
    char text[ERROR_TEXT_SIZE];
    int length = errorSource->systemText(code, text, sizeof text);
    // The system's text ends in a two-character line break, which is cut.
    if (length >= 2 && static_cast<std::size_t>(length) < sizeof text &&
        size >= static_cast<std::size_t>(length) + 14) {
        text[length - 2] = '\0';
        std::snprintf(buffer, size, "%s (%d)", text, code);
    } else {
        std::snprintf(buffer, size, "Errno = %d", code);
    }
    return buffer;
}

void logMessage(const char* format, ...)
{
    char line[LOG_LINE_SIZE + 1];  // room for the newline after the cut line
    std::size_t used = 0;
    line[0] = '\0';
    char errorText[ERROR_TEXT_SIZE];
    if (systemErrorText(errorText, sizeof errorText)) {
        int n = std::snprintf(line, LOG_LINE_SIZE, "System Error: %s User Message: ", errorText);
        used = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), LOG_LINE_SIZE - 1);
    }
    va_list args;
    va_start(args, format);
    appendFormatted(line, LOG_LINE_SIZE, &used, format, args);
    va_end(args);
    line[used] = '\n';
    consoleWrite(line, used + 1);
}
