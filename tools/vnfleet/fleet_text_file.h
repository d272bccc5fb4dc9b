// Small files VNfleet reads whole: reports, the password file.
#pragma once

#include <string>

// Appends the whole content of a regular file; false when it cannot be
// opened or read, or is not a regular file (a directory, a device).
// readableByOthers, when given, tells whether users other than the owner
// may read the file.
bool readRegularFile(const std::string& path, std::string* text,
                     bool* readableByOthers = nullptr);
