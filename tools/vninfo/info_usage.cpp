#include "info_usage.h"

#include <cstdarg>
#include <cstring>

#include "info_options.h"
#include "info_report.h"

const InfoExitStatus infoExitStatuses[] = {
    {INFO_FIT, "fit to send: every check passed"},
    {INFO_USAGE, "usage error"},
    {INFO_UNREADABLE, "cannot be read, or VNloader's loader refuses it"},
    {INFO_PACKAGE_CRC, "the package body does not match its CRC: corrupted or cut"},
    {INFO_PAGE_HEADER,
     "the deciphered page header does not check out: wrong key, wrong -EA, or corrupted"},
    {INFO_REFUSED, "VNloader's transfer would refuse the image (unknown type, DSP image over its "
                   "allotment, no image data)"},
    {INFO_MISMATCH, "the contents disagree with the headers or the file type"},
    {INFO_OUT_OF_RANGE,
     "part of the image would not be sent, or would land in another type's pages"},
    {INFO_HEX_CHECKSUM, "a HEX record's checksum is wrong or missing: the file is damaged"},
    {INFO_HEX_OVERLAP, "HEX data records write over earlier ones"},
};
const int infoExitStatusCount = sizeof infoExitStatuses / sizeof infoExitStatuses[0];

namespace {
constexpr std::size_t USAGE_WIDTH = 78;
constexpr const char* CONTINUATION = "    ";  // each word brings its own space

// "  N  meaning", broken between words into lines of at most USAGE_WIDTH.
void writeStatus(std::FILE* to, const InfoExitStatus& exit)
{
    std::fprintf(to, "  %d ", exit.status);
    std::size_t column = 4;
    const char* word = exit.meaning;
    while (*word != '\0') {
        std::size_t length = std::strcspn(word, " ");
        if (column + 1 + length > USAGE_WIDTH) {
            std::fprintf(to, "\n%s", CONTINUATION);
            column = std::strlen(CONTINUATION);
        }
        std::fprintf(to, " %.*s", static_cast<int>(length), word);
        column += 1 + length;
        word += length;
        word += std::strspn(word, " ");
    }
    std::fputc('\n', to);
}
}  // namespace

void writeInfoUsage(std::FILE* to)
{
    std::fputs(infoUsageText, to);
    std::fputs("Exit status:\n", to);
    for (const InfoExitStatus& exit : infoExitStatuses)
        writeStatus(to, exit);
    std::fputs("With several problems the lowest number is the status.\n", to);
    std::fflush(to);
}

void infoError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}
