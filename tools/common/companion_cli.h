// What the companion programs share on their command lines: the exit-status
// table their usage text is made from, errors on standard error, text with
// names on standard output, numbers.
#pragma once

#include <cstddef>
#include <string>

#include "diag/console.h"

struct ExitStatusRow {
    int status;
    const char* meaning;
};

// "Exit status:" and a line "  N  meaning" per row, broken between words
// so that no line is wider than 78 characters.
std::string exitStatusText(const ExitStatusRow* rows, std::size_t count);

template <std::size_t N>
std::string exitStatusText(const ExitStatusRow (&rows)[N])
{
    return exitStatusText(rows, N);
}

// The meaning of status in rows, "unknown" when it has none.
const char* exitStatusMeaning(const ExitStatusRow* rows, std::size_t count, int status);

// A usage error or a failure: formatted onto standard error and flushed.
void companionError(const char* format, ...) VN_PRINTF(1, 2);
// Text for standard output, its names UTF-8 (see platformWriteText).
void companionPrint(const char* format, ...) VN_PRINTF(1, 2);

// "1 device", "2 devices": the count and the noun, plural but for one.
std::string countedNoun(unsigned long long count, const char* noun);

// A whole decimal number from low to high, nothing before or after it.
bool parseWholeNumber(const char* text, long low, long high, long* value);
