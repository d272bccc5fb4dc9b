// Shared bits of the harnesses: a check that stops the fuzzer with a crash
// report, a quiet console and a scratch file in memory-backed storage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "diag/console_capture.h"
#include "diag/log.h"

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace fuzz {

// The console's output of one run, kept so a harness can look at it.
inline std::string& consoleText()
{
    return ConsoleCapture::text();
}

inline int noPendingError()
{
    return 0;
}

inline int noSystemText(int, char*, std::size_t)
{
    return -1;
}

// Console into consoleText(), no system error text in log lines.
inline void quietConsole()
{
    static const ErrorSource quiet{noPendingError, noSystemText};
    setErrorSource(&quiet);
    consoleText().clear();
    setConsoleSink(ConsoleCapture::append);
}

inline std::string makeScratchPath()
{
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/vn_fuzz_" + std::to_string(getpid());
}

inline void removeScratch();

// One file per process, in /dev/shm when there is one; removed at exit.
inline const std::string& scratchPath()
{
    static const std::string path = makeScratchPath();
    static const bool registered = std::atexit(removeScratch) == 0;
    (void)registered;
    return path;
}

inline void removeScratch()
{
    unlink(scratchPath().c_str());
}

inline void writeScratch(const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(scratchPath().c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    if (size != 0)
        FUZZ_CHECK(std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);
}

}  // namespace fuzz
