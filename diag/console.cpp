#include "diag/console.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/text_names.h"

namespace {
std::mutex consoleLock;
ConsoleSink consoleSink = nullptr;
}  // namespace

void setConsoleSink(ConsoleSink sink)
{
    std::lock_guard<std::mutex> guard(consoleLock);
    consoleSink = sink;
}

namespace {
void emit(const char* text, std::size_t length, bool utf8)
{
    std::lock_guard<std::mutex> guard(consoleLock);
    if (consoleSink) {
        consoleSink(text, length);
        return;
    }
    if (utf8)
        platformWriteText(stdout, text, length);
    else
        std::fwrite(text, 1, length, stdout);
    std::fflush(stdout);
}
}  // namespace

void consoleWrite(const char* text, std::size_t length)
{
    emit(text, length, false);
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
        emit(small, static_cast<std::size_t>(length), true);
        return;
    }
    std::vector<char> large(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    emit(large.data(), static_cast<std::size_t>(length), true);
}
