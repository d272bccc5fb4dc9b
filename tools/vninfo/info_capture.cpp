#include "info_capture.h"

#include "diag/console.h"

namespace {
std::string captured;

void holdBack(const char* text, std::size_t length)
{
    captured.append(text, length);
}
}  // namespace

void startCapture()
{
    captured.clear();
    setConsoleSink(holdBack);
}

std::string stopCapture()
{
    setConsoleSink(nullptr);
    std::string text;
    text.swap(captured);
    return text;
}
