// A regular file whose first read fails: /proc/self/mem fails with EIO at
// offset 0. Empty where there is no such file (Windows).
#pragma once

#include <filesystem>
#include <string>

inline std::string failingReadPath()
{
#ifdef _WIN32
    return {};
#else
    return std::filesystem::exists("/proc/self/mem") ? "/proc/self/mem" : "";
#endif
}
