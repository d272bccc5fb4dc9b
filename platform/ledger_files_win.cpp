// Windows backend of the ledger's needs: _commit, _chsize_s,
// GetSystemTime and CNG's SHA-256.
#include "platform/ledger_files.h"

#include <winsock2.h>
#include <windows.h>
#include <bcrypt.h>
#include <io.h>

#include <climits>


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
    std::fflush(file);
    if (_chsize_s(_fileno(file), static_cast<__int64>(length)) != 0) {
        // A ledger's handle may only append: cut through a second handle of
        // the same file.
        HANDLE writer = ReOpenFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))),
                                   GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
        if (writer == INVALID_HANDLE_VALUE)
            return false;
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(length);
        bool cut = SetFilePointerEx(writer, end, nullptr, FILE_BEGIN) && SetEndOfFile(writer);
        CloseHandle(writer);
        if (!cut)
            return false;
    }
    return std::fseek(file, 0, SEEK_END) == 0;
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
