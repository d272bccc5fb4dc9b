// Windows backend of the outputs: file indexes, FILE_APPEND_DATA, LockFileEx.
#include "platform/output_files.h"

#include <winsock2.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/wide_names_win.h"

namespace {
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool idOfHandle(HANDLE handle, PlatformFileId* id)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    *id = PlatformFileId{info.dwVolumeSerialNumber,
                         (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
}

HANDLE handleOf(std::FILE* file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

void setErrnoFromSystem()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        errno = EACCES;
        break;
    case ERROR_DISK_FULL:
        errno = ENOSPC;
        break;
    default:
        errno = EIO;
    }
}
}  // namespace

bool platformIdOfFile(std::FILE* file, PlatformFileId* id)
{
    return idOfHandle(handleOf(file), id);
}

bool platformIdOfPath(const char* path, PlatformFileId* id)
{
    HANDLE handle = CreateFileW(wideName(path).c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool known = idOfHandle(handle, id);
    CloseHandle(handle);
    return known;
}

PlatformPathKind platformKindOfPath(const char* path)
{
    const std::wstring name = wideName(path);
    DWORD attributes = name.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PlatformPathKind::MISSING;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PlatformPathKind::FOLDER;
    // NUL, CON and the like have attributes too; only a disk file opens as one.
    HANDLE handle = CreateFileW(name.c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return PlatformPathKind::OTHER;
    bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    return disk ? PlatformPathKind::REGULAR : PlatformPathKind::OTHER;
}

std::FILE* platformOpenAppending(const char* path, bool create, bool* created)
{
    *created = false;
    // FILE_APPEND_DATA without FILE_WRITE_DATA: the system puts every write
    // at the end, where the C runtime's own append seeks first and writes
    // after, at an offset another writer may have passed.
    const DWORD access = FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES |
                         FILE_WRITE_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
    HANDLE handle = INVALID_HANDLE_VALUE;
    const std::wstring name = wideName(path);
    if (create) {
        handle = CreateFileW(name.c_str(), access, SHARE_ALL, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
        *created = handle != INVALID_HANDLE_VALUE;
    }
    if (handle == INVALID_HANDLE_VALUE)
        handle = CreateFileW(name.c_str(), access, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        setErrnoFromSystem();
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        errno = EIO;
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "a+b");
    if (!file)
        _close(fd);
    return file;
}

bool platformIsRegular(std::FILE* file)
{
    return GetFileType(handleOf(file)) == FILE_TYPE_DISK;
}

bool platformLockFile(std::FILE* file, bool* busy)
{
    // One byte far past any end: readers that take no lock still read the
    // whole file, and the lock stays out of the way of a cut-back.
    OVERLAPPED at{};
    at.Offset = 0;
    at.OffsetHigh = 0x40000000;
    *busy = false;
    if (LockFileEx(handleOf(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &at))
        return true;
    DWORD error = GetLastError();
    *busy = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING;
    return false;
}

bool platformRemoveFile(const char* path)
{
    return DeleteFileW(wideName(path).c_str()) != 0;
}

void platformFailOverSizeWrites()
{
    // No such signal: an over-size write fails as a write.
}

std::string platformHostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size) || size == 0)
        return "localhost";
    return utf8Name(name, size);  // the ledger's JSON is UTF-8
}

unsigned long platformProcessId()
{
    return GetCurrentProcessId();
}
