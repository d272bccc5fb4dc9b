#pragma once

#include <cstdint>

// Loads an update package (packaged) or a raw Java, logo or html file into
// imageBuffer. fileType is the raw file's type (html has no length prefix);
// a package's header type byte is stored into it, a rejected one too. The
// loaded length on success, 0 after a failure whose message has been printed.
std::uint32_t loadUpdateFile(const char* path, bool packaged, std::uint8_t& fileType);
