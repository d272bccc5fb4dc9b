// Opening a loader's input file.
#pragma once

#include <cstdio>

// Opens path for reading in binary mode; nullptr when it does not open or
// is not a regular file (a directory, device or pipe holds no image).
std::FILE* openInputFile(const char* path);
