#include "whole_file.h"

#include <cstdio>

#include "platform/platform.h"

bool readWholeFile(const std::string& path, std::string* bytes, bool* readableByOthers)
{
    std::FILE* file = platformOpenRegularFile(path.c_str());
    if (!file)
        return false;
    if (readableByOthers)
        *readableByOthers = platformReadableByOthers(file);
    bool fine = true;
    char chunk[4096];
    for (std::size_t got = sizeof chunk; fine && got == sizeof chunk;) {
        got = std::fread(chunk, 1, sizeof chunk, file);
        bytes->append(chunk, got);
        fine = !std::ferror(file);
    }
    std::fclose(file);
    return fine;
}
