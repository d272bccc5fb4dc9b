// What a record that must survive a crash needs of the system: its bytes on
// the disk, the time in UTC, and a digest an
// operator can compare with the system's own tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

constexpr std::size_t PLATFORM_SHA256_SIZE = 32;

// SHA-256 from the system's library (CNG on Windows, libcrypto elsewhere).
bool platformSha256(const void* data, std::size_t length,
                    std::uint8_t digest[PLATFORM_SHA256_SIZE]);

// Writes what the system holds of an open file through to the disk.
bool platformSyncFile(std::FILE* file);
// Cuts an open file back to length bytes, so a half-written line goes.
bool platformTruncateFile(std::FILE* file, std::uint64_t length);

// Now in UTC, as 2026-12-10T02:15:04Z.
std::string platformUtcTimeText();

// Whether the pending error (platformPendingError) says the process or the
// system has no descriptor or socket left, a want that passes.
bool platformOutOfDescriptors(int code);

// The open files and sockets a process may hold now; a very large number
// where the system sets no such limit.
long platformOpenFileLimit();
