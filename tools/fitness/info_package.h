// An update package as stored: header fields, the loader's verdict and,
// with the key, the page header inside the deciphered body.
#pragma once

#include "info_report.h"

// Fills report.package and report.pageHeader. Leaves the body loaded in
// imageBuffer, as VNloader's loader does, when the loader accepts it.
void inspectPackage(InfoReport& report);

// Reads at most limit bytes of the file and, when fileLength is given,
// counts all of them; false when it cannot be opened.
bool readFileBytes(const char* path, std::uint32_t limit, std::vector<std::uint8_t>* bytes,
                   std::uint64_t* fileLength = nullptr);

// True when the bytes form a package header whose CRC fits the body, that
// is, an update package that VNloader's loader would take.
bool looksLikePackage(const std::vector<std::uint8_t>& bytes);
