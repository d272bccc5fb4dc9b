// Console output. Each call writes its text whole and flushes it, so the
// two worker threads never interleave inside one message and piped output
// appears as it happens.
#pragma once

#include <cstddef>

#if defined(__MINGW32__)
#define VN_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define VN_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

// Formatted text whose names are UTF-8, written so the console shows them
// (see platformWriteText).
void consolePrint(const char* format, ...) VN_PRINTF(1, 2);
// Bytes as they are, such as a device's debug messages.
void consoleWrite(const char* text, std::size_t length);

// Tests divert the console into a sink of their own; nullptr restores stdout.
using ConsoleSink = void (*)(const char* text, std::size_t length);
void setConsoleSink(ConsoleSink sink);
