// POSIX backend of the outputs: stat, O_APPEND, flock, SIGXFSZ.
#include "platform/output_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {
PlatformFileId idOf(const struct stat& status)
{
    return PlatformFileId{static_cast<std::uint64_t>(status.st_dev),
                          static_cast<std::uint64_t>(status.st_ino)};
}
}  // namespace

bool platformIdOfFile(std::FILE* file, PlatformFileId* id)
{
    struct stat status {};
    if (fstat(fileno(file), &status) != 0)
        return false;
    *id = idOf(status);
    return true;
}

bool platformIdOfPath(const char* path, PlatformFileId* id)
{
    struct stat status {};
    if (stat(path, &status) != 0)
        return false;
    *id = idOf(status);
    return true;
}

PlatformPathKind platformKindOfPath(const char* path)
{
    struct stat status {};
    if (stat(path, &status) != 0)
        return PlatformPathKind::MISSING;
    return S_ISREG(status.st_mode)   ? PlatformPathKind::REGULAR
           : S_ISDIR(status.st_mode) ? PlatformPathKind::FOLDER
                                     : PlatformPathKind::OTHER;
}

std::FILE* platformOpenAppending(const char* path, bool create, bool* created)
{
    *created = false;
    const int flags = O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC;
    int fd = create ? open(path, flags | O_CREAT | O_EXCL, 0666) : -1;
    if (fd >= 0)
        *created = true;
    else if (!create || errno == EEXIST)
        fd = open(path, flags);
    if (fd < 0)
        return nullptr;
    const int now = fcntl(fd, F_GETFL);
    std::FILE* file = nullptr;
    if (now >= 0 && fcntl(fd, F_SETFL, now & ~O_NONBLOCK) == 0)
        file = fdopen(fd, "a+b");
    if (!file) {
        int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

bool platformIsRegular(std::FILE* file)
{
    struct stat status {};
    return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
}

bool platformLockFile(std::FILE* file, bool* busy)
{
    // flock, not fcntl: a lock of the open file, which closing another
    // descriptor of the same file (a reader) does not let go.
    *busy = false;
    if (flock(fileno(file), LOCK_EX | LOCK_NB) == 0)
        return true;
    *busy = errno == EWOULDBLOCK;
    return false;
}

bool platformRemoveFile(const char* path)
{
    return unlink(path) == 0;
}

void platformFailOverSizeWrites()
{
    signal(SIGXFSZ, SIG_IGN);
}

std::string platformHostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

unsigned long platformProcessId()
{
    return static_cast<unsigned long>(getpid());
}
