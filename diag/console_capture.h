// Holds back console output while it lives, for callers that report a
// loader's words in their own form (companion programs, tests).
#pragma once

#include <string>

#include "diag/console.h"

struct ConsoleCapture {
    ConsoleCapture() { text().clear(); setConsoleSink(append); }
    ~ConsoleCapture() { setConsoleSink(nullptr); }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    static std::string& text()
    {
        static std::string captured;
        return captured;
    }
    static void append(const char* data, std::size_t length) { text().append(data, length); }
};
