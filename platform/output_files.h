// Files a run writes while others may look on: opened so that the system
// appends every write, held by one run at a time, and known by what they
// are (device and inode, volume and file index) rather than by their names.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct PlatformFileId {
    std::uint64_t volume;
    std::uint64_t index;
};

inline bool operator==(const PlatformFileId& a, const PlatformFileId& b)
{
    return a.volume == b.volume && a.index == b.index;
}

// The identity of an open file, or of the file a path names; false when it
// cannot be known (for a path: also when nothing is there).
bool platformIdOfFile(std::FILE* file, PlatformFileId* id);
bool platformIdOfPath(const char* path, PlatformFileId* id);

enum class PlatformPathKind { MISSING, REGULAR, FOLDER, OTHER };
PlatformPathKind platformKindOfPath(const char* path);

// Opens path for reading and for appending by the system: every write lands
// at the end whatever the file position or another writer did. create: a
// missing file is made (*created says so); otherwise a missing file fails.
// Never waits on a FIFO. nullptr with errno set when it does not open.
std::FILE* platformOpenAppending(const char* path, bool create, bool* created);
bool platformIsRegular(std::FILE* file);

// Takes the one exclusive lock of the open file, held until the file is
// closed or the process ends (so a killed run leaves none). Readers that
// take no lock are not kept out. False with *busy when another holds it.
bool platformLockFile(std::FILE* file, bool* busy);

bool platformRemoveFile(const char* path);

// A write past the process's file size limit fails as a write (EFBIG)
// instead of killing the process.
void platformFailOverSizeWrites();

std::string platformHostName();
unsigned long platformProcessId();
