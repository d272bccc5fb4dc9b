// POSIX backend of the ledger's needs: fsync, ftruncate, gmtime_r,
// getrlimit, and libcrypto's SHA-256.
#include "platform/ledger_files.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

bool platformSha256(const void* data, std::size_t length,
                    std::uint8_t digest[PLATFORM_SHA256_SIZE])
{
    // The digest needs no configuration file nor any module it could name.
    static const bool started = OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
    unsigned size = 0;
    return started && EVP_Digest(data, length, digest, &size, EVP_sha256(), nullptr) == 1 &&
           size == PLATFORM_SHA256_SIZE;
}

bool platformSyncFile(std::FILE* file)
{
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool platformTruncateFile(std::FILE* file, std::uint64_t length)
{
    return ftruncate(fileno(file), static_cast<off_t>(length)) == 0 &&
           std::fseek(file, 0, SEEK_END) == 0;
}

std::string platformUtcTimeText()
{
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

bool platformOutOfDescriptors(int code)
{
    return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM;
}

long platformOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > static_cast<rlim_t>(LONG_MAX))
        return LONG_MAX;
    return static_cast<long>(limit.rlim_cur);
}
