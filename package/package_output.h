// How the package writer puts bytes into its file. Tests swap the write
// routine to make a write fail part-way.
#pragma once

#include <cstddef>
#include <cstdio>

using PackageWriteFn = std::size_t (*)(const void* data, std::size_t size, std::size_t count,
                                       std::FILE* file);

// std::fwrite unless a test has put its own in.
extern PackageWriteFn packageWrite;

// The package is written beside the output first, under a new name such as
// "main.enc.1.tmp", and only renamed onto it when all of it is on disk.
constexpr const char* PACKAGE_TEMP_SUFFIX = ".tmp";
