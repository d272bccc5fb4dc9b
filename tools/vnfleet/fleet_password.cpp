#include "fleet_password.h"

#include <cstdio>

#include "platform/platform.h"

bool passwordOfText(const std::string& text, std::string* password)
{
    // Notepad and PowerShell begin UTF-8 with a byte-order mark.
    const std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    std::string line = text.substr(start, text.find('\n', start) - start);
    if (!line.empty() && line.back() == '\r' && start + line.size() < text.size())
        line.pop_back();
    *password = line;
    return !line.empty();
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
    // An empty password would be sent to every device as a wrong one.
    if (!passwordOfText(text, password)) {
        std::fprintf(stderr, "VNfleet: the password file is empty: %s\n", path.c_str());
        return false;
    }
    return true;
}
