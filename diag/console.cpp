#include "diag/console.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {
std::mutex consoleLock;
ConsoleSink consoleSink = nullptr;
}  // namespace

void setConsoleSink(ConsoleSink sink)
{
    std::lock_guard<std::mutex> guard(consoleLock);
    consoleSink = sink;
}

void consoleWrite(const char* text, std::size_t length)
{
    std::lock_guard<std::mutex> guard(consoleLock);
    if (consoleSink) {
        consoleSink(text, length);
        return;
    }
    std::fwrite(text, 1, length, stdout);
    std::fflush(stdout);
}

void consolePrint(const char* format, ...)
{
    char small[1024];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(length) < sizeof small) {
        va_end(again);
        consoleWrite(small, static_cast<std::size_t>(length));
        return;
    }
    std::vector<char> large(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    consoleWrite(large.data(), static_cast<std::size_t>(length));
}
