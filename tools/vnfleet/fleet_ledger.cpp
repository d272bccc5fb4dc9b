#include "fleet_ledger.h"

#include <cerrno>
#include <cstring>

#include "platform/ledger_files.h"
#include "platform/text_names.h"
#include "platform/platform.h"
#include "companion_cli.h"

namespace {
void fail(Ledger* ledger, int error)
{
    if (!ledger->failed)
        companionError("VNfleet: cannot write the report %s: %s\n", ledger->path.c_str(),
                       std::strerror(error ? error : EIO));
    ledger->failed = true;
}

bool sync(Ledger* ledger, std::uint64_t nowMs)
{
    errno = 0;
    if (!ledger->failed && !platformSyncFile(ledger->file))
        fail(ledger, errno);
    ledger->unsynced = false;
    ledger->syncedMs = nowMs;
    return !ledger->failed;
}
}  // namespace

bool openLedger(const std::string& path, Ledger* ledger)
{
    *ledger = Ledger{nullptr, path, 0, platformMonotonicMs(), false, false};
    if (path.empty())
        return true;
    errno = 0;
    ledger->file = platformOpenFile(path.c_str(), "ab+");
    if (!ledger->file || std::fseek(ledger->file, 0, SEEK_END) != 0) {
        companionError("VNfleet: cannot write the report %s: %s\n", path.c_str(),
                       std::strerror(errno ? errno : EIO));
        if (ledger->file)
            std::fclose(ledger->file);
        ledger->file = nullptr;
        return false;
    }
    // Unbuffered: a line goes out in one write, and nothing of a line that
    // failed waits in a buffer to be written at the close.
    std::setvbuf(ledger->file, nullptr, _IONBF, 0);
    long end = std::ftell(ledger->file);
    ledger->length = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    if (ledger->length > 0 && std::fseek(ledger->file, -1, SEEK_END) == 0) {
        int last = std::fgetc(ledger->file);
        std::fseek(ledger->file, 0, SEEK_END);
        if (last != '\n' && std::fputc('\n', ledger->file) != EOF &&
            std::fflush(ledger->file) == 0)
            ++ledger->length;
    }
    return true;
}

bool appendToLedger(Ledger* ledger, const DeviceResult& result)
{
    if (!ledger->file || ledger->failed)
        return false;
    std::string line = resultJson(result, platformUtcTimeText()) + "\n";
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), ledger->file) != line.size() ||
        std::fflush(ledger->file) != 0) {
        fail(ledger, errno);
        // No half line is left for a resume to stumble over.
        std::clearerr(ledger->file);
        platformTruncateFile(ledger->file, ledger->length);
        return false;
    }
    ledger->length += line.size();
    ledger->unsynced = true;
    return true;
}

void tickLedger(Ledger* ledger, std::uint64_t nowMs)
{
    if (ledger->file && ledger->unsynced && nowMs - ledger->syncedMs >= LEDGER_SYNC_MS)
        sync(ledger, nowMs);
}

bool closeLedger(Ledger* ledger)
{
    if (!ledger->file)
        return !ledger->failed;
    sync(ledger, platformMonotonicMs());
    errno = 0;
    if (std::fclose(ledger->file) != 0)
        fail(ledger, errno);
    ledger->file = nullptr;
    return !ledger->failed;
}
