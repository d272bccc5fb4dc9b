// Windows backend of the ledger's needs: _commit, _chsize_s, file identity,
// GetSystemTime and CNG's SHA-256.
#include "platform/ledger_files.h"

#include <winsock2.h>
#include <windows.h>
#include <bcrypt.h>
#include <io.h>

#include <climits>

#include "platform/wide_names_win.h"

bool platformSha256(const void* data, std::size_t length,
                    std::uint8_t digest[PLATFORM_SHA256_SIZE])
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
        return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool done = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    // BCryptHashData takes a 32-bit length.
    for (std::size_t at = 0; done && at < length;) {
        ULONG part = static_cast<ULONG>(length - at > 0x40000000u ? 0x40000000u : length - at);
        done = BCryptHashData(hash, const_cast<PUCHAR>(bytes + at), part, 0) >= 0;
        at += part;
    }
    done = done && BCryptFinishHash(hash, digest, PLATFORM_SHA256_SIZE, 0) >= 0;
    if (hash)
        BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return done;
}

bool platformSyncFile(std::FILE* file)
{
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

bool platformTruncateFile(std::FILE* file, std::uint64_t length)
{
    return _chsize_s(_fileno(file), static_cast<__int64>(length)) == 0 &&
           std::fseek(file, 0, SEEK_END) == 0;
}

namespace {
bool identify(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    const std::wstring name = wideName(path);
    if (name.empty())
        return false;
    HANDLE handle = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool known = GetFileInformationByHandle(handle, info) != 0;
    CloseHandle(handle);
    return known;
}
}  // namespace

bool platformSameFile(const char* a, const char* b)
{
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return identify(a, &first) && identify(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool platformIsDirectory(const char* path)
{
    const std::wstring name = wideName(path);
    DWORD attributes = name.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string platformUtcTimeText()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

bool platformOutOfDescriptors(int code)
{
    return code == WSAEMFILE || code == WSAENOBUFS;
}

long platformOpenFileLimit()
{
    return LONG_MAX;  // no per-process limit on sockets
}
