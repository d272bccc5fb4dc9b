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
    if (!ledger->said)
        companionError("VNfleet: cannot write the report %s: %s\n", ledger->path.c_str(),
                       std::strerror(error ? error : EIO));
    ledger->failed = true;
    ledger->said = true;
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

// One write of whole lines; after a failure only this write's bytes are cut
// back: the run holds the lock, so the length before it is the run's own.
bool write(Ledger* ledger, const std::string& lines)
{
    std::string bytes = (ledger->tornTail ? "\n" : "") + lines;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), ledger->file) == bytes.size() &&
        std::fflush(ledger->file) == 0) {
        ledger->length += bytes.size();
        ledger->tornTail = false;
        ledger->unsynced = true;
        return true;
    }
    int error = errno;
    std::clearerr(ledger->file);
    platformTruncateFile(ledger->file, ledger->length);
    fail(ledger, error);
    return false;
}
}  // namespace

void startLedger(std::FILE* file, const std::string& path, Ledger* ledger)
{
    *ledger = Ledger{file, path, 0, platformMonotonicMs(), false, false, false, false, {}};
    if (!file)
        return;
    // Unbuffered: a line goes out in one write, and nothing of a line that
    // failed waits in a buffer to be written at the close.
    std::setvbuf(file, nullptr, _IONBF, 0);
    if (std::fseek(file, 0, SEEK_END) != 0)
        return;
    long end = std::ftell(file);
    ledger->length = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    if (ledger->length > 0 && std::fseek(file, -1, SEEK_END) == 0) {
        ledger->tornTail = std::fgetc(file) != '\n';
        std::fseek(file, 0, SEEK_END);
    }
}

bool appendToLedger(Ledger* ledger, const std::string& line)
{
    if (!ledger->file)
        return false;
    if (ledger->failed) {
        ledger->held += line + "\n";
        return false;
    }
    return write(ledger, line + "\n");
}

void tickLedger(Ledger* ledger, std::uint64_t nowMs)
{
    if (ledger->file && ledger->unsynced && nowMs - ledger->syncedMs >= LEDGER_SYNC_MS)
        sync(ledger, nowMs);
}

bool closeLedger(Ledger* ledger, const std::string& lastLine)
{
    if (!ledger->file)
        return !ledger->failed;
    bool failedBefore = ledger->failed;
    // Room may have come back: the record of the devices after a failure
    // and the run's end are worth one more try, said nothing of again.
    ledger->failed = false;
    write(ledger, ledger->held + lastLine + "\n");
    ledger->failed = ledger->failed || failedBefore;
    sync(ledger, platformMonotonicMs());
    errno = 0;
    if (std::fclose(ledger->file) != 0)
        fail(ledger, errno);
    ledger->file = nullptr;
    return !ledger->failed;
}
