#include "fleet_text_file.h"

#include <cstdio>

#include "platform/platform.h"

bool readRegularFile(const std::string& path, std::string* text, bool* readableByOthers)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    bool fine = platformIsRegularFile(file);
    if (readableByOthers)
        *readableByOthers = platformReadableByOthers(file);
    char chunk[65536];
    while (fine) {
        std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
        text->append(chunk, got);
        if (got < sizeof chunk)
            fine = !std::ferror(file) && std::feof(file);
        if (got < sizeof chunk)
            break;
    }
    std::fclose(file);
    return fine;
}
