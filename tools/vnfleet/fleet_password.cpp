#include "fleet_password.h"

#include <cstdio>

#include "platform/platform.h"

std::string firstLineOf(const std::string& text)
{
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r' && line.size() < text.size())
        line.pop_back();
    return line;
}

namespace {
// The whole of a regular file; readableByOthers from the same open file.
bool readRegularFile(const std::string& path, std::string* text, bool* readableByOthers)
{
    std::FILE* file = platformOpenRegularFile(path.c_str());
    if (!file)
        return false;
    *readableByOthers = platformReadableByOthers(file);
    bool fine = true;
    char chunk[4096];
    for (std::size_t got = sizeof chunk; fine && got == sizeof chunk;) {
        got = std::fread(chunk, 1, sizeof chunk, file);
        text->append(chunk, got);
        fine = !std::ferror(file);
    }
    std::fclose(file);
    return fine;
}
}  // namespace

bool readPasswordFile(const std::string& path, std::string* password)
{
    std::string text;
    bool readableByOthers = false;
    if (!readRegularFile(path, &text, &readableByOthers)) {
        std::fprintf(stderr, "VNfleet: cannot read the password file: %s\n", path.c_str());
        return false;
    }
    // A password others can read is no longer the operator's alone.
    if (readableByOthers) {
        std::fprintf(stderr,
                     "VNfleet: other users may read the password file %s: chmod 600 it\n",
                     path.c_str());
        return false;
    }
    *password = firstLineOf(text);
    return true;
}
