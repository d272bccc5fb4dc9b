// The loaders as the settings record drives them.
#pragma once

#include <cstdint>

// Loads an update package (packagedInput set) or a raw Java, logo or html
// file into imageBuffer; a package sets fileType. The loaded length on
// success, 0 after a failure whose message has been printed.
std::uint32_t readUpdateFile(const char* path);
