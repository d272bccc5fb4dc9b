#include "companion_cli.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/text_names.h"

namespace {
constexpr std::size_t USAGE_WIDTH = 78;
constexpr std::size_t MEANING_COLUMN = 5;  // after "  N  "
}  // namespace

std::string exitStatusText(const ExitStatusRow* rows, std::size_t count)
{
    std::string text = "Exit status:\n";
    for (std::size_t i = 0; i < count; ++i) {
        char number[16];
        // Meanings start in one column for statuses 0 to 99.
        std::snprintf(number, sizeof number, "  %-2d", rows[i].status);
        text += number;
        std::size_t column = std::strlen(number);
        for (const char* word = rows[i].meaning; *word != '\0';) {
            const std::size_t length = std::strcspn(word, " ");
            if (column + 1 + length > USAGE_WIDTH && column > MEANING_COLUMN) {
                text += "\n" + std::string(MEANING_COLUMN - 1, ' ');
                column = MEANING_COLUMN - 1;
            }
            text += ' ';
            text.append(word, length);
            column += 1 + length;
            word += length;
            word += std::strspn(word, " ");
        }
        text += '\n';
    }
    return text;
}

const char* exitStatusMeaning(const ExitStatusRow* rows, std::size_t count, int status)
{
    for (std::size_t i = 0; i < count; ++i)
        if (rows[i].status == status)
            return rows[i].meaning;
    return "unknown";
}

namespace {
void writeFormatted(std::FILE* stream, const char* format, va_list args) VN_PRINTF(2, 0);

void writeFormatted(std::FILE* stream, const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    if (length > 0) {
        std::vector<char> text(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        platformWriteText(stream, text.data(), static_cast<std::size_t>(length));
    }
    va_end(again);
}
}  // namespace

void companionError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeFormatted(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

void companionPrint(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeFormatted(stdout, format, args);
    va_end(args);
}

bool parseWholeNumber(const char* text, long low, long high, long* value)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high)
        return false;
    *value = parsed;
    return true;
}

std::string countedNoun(unsigned long long count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}
