// Reading an input file whole, by its UTF-8 name.
#pragma once

#include <string>

// The bytes of a regular file; false when it does not open (or is a
// directory, device or pipe) or a read fails. readableByOthers, when given,
// comes from the same open file.
bool readWholeFile(const std::string& path, std::string* bytes, bool* readableByOthers = nullptr);
