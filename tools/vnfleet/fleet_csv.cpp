#include "fleet_csv.h"

namespace {
bool atLineEnd(const std::string& text, std::size_t at)
{
    return at >= text.size() || text[at] == '\n' || (text[at] == '\r' && at + 1 < text.size() &&
                                                     text[at + 1] == '\n');
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::size_t pastBlanks(const std::string& text, std::size_t at)
{
    while (at < text.size() && isBlank(text[at]))
        ++at;
    return at;
}

std::string trimmed(const std::string& field)
{
    std::size_t first = pastBlanks(field, 0);
    std::size_t last = field.size();
    while (last > first && isBlank(field[last - 1]))
        --last;
    return field.substr(first, last - first);
}

bool isComment(const std::string& text, std::size_t at)
{
    at = pastBlanks(text, at);
    return at < text.size() && text[at] == '#';
}

// Moves past a line end at `at` (LF or CR LF), counting the line.
std::size_t pastLineEnd(const std::string& text, std::size_t at, int* line)
{
    if (at < text.size()) {
        at += text[at] == '\r' ? 2 : 1;
        ++*line;
    }
    return at;
}

const char* const LONE_CR = "save the list with CR LF or LF line ends";

bool loneCr(const std::string& text, std::size_t at)
{
    return text[at] == '\r' && !atLineEnd(text, at);
}

// Blanks and separators only: what a spreadsheet leaves of a cleared row.
bool isBlankRow(const std::string& text, std::size_t at, char separator)
{
    while (!atLineEnd(text, at) && (isBlank(text[at]) || text[at] == separator))
        ++at;
    return atLineEnd(text, at);
}

// One record from `at`, which it moves past the record's line end.
bool parseRecord(const std::string& text, char separator, std::size_t* at, int* line,
                 CsvRecord* record, CsvProblem* problem)
{
    for (;;) {
        std::string field;
        std::size_t quote = pastBlanks(text, *at);
        if (quote < text.size() && text[quote] == '"') {
            *at = quote;
            int opened = *line;
            for (++*at;; ++*at) {
                if (*at >= text.size()) {
                    *problem = CsvProblem{opened, "a quoted field is never closed"};
                    return false;
                }
                if (text[*at] == '\n')
                    ++*line;
                if (text[*at] != '"') {
                    field += text[*at];
                    continue;
                }
                if (*at + 1 < text.size() && text[*at + 1] == '"') {
                    field += '"';
                    ++*at;
                    continue;
                }
                ++*at;
                break;
            }
            *at = pastBlanks(text, *at);
            if (!atLineEnd(text, *at) && text[*at] != separator) {
                *problem = CsvProblem{*line, loneCr(text, *at) ? LONE_CR : "text after a closing quote"};
                return false;
            }
        } else {
            while (!atLineEnd(text, *at) && text[*at] != separator) {
                if (text[*at] == '"' || text[*at] == '\r') {
                    *problem = CsvProblem{*line, text[*at] == '"' ? "a quote inside an unquoted field"
                                                                  : LONE_CR};
                    return false;
                }
                field += text[(*at)++];
            }
            field = trimmed(field);
        }
        record->fields.push_back(field);
        if (*at < text.size() && text[*at] == separator) {
            ++*at;
            continue;
        }
        *at = pastLineEnd(text, *at, line);
        return true;
    }
}

// A comment line read as a record on its own line, so that a device behind
// a '#' is seen; false when it is no record (broken quotes are fine there).
bool commentAsRecord(const std::string& text, std::size_t at, char separator, int line,
                     CsvRecord* record)
{
    std::size_t end = at;
    while (!atLineEnd(text, end))
        ++end;
    std::size_t from = 0;
    CsvProblem ignored;
    *record = CsvRecord{line, {}, true};
    return parseRecord(text.substr(at, end - at), separator, &from, &line, record, &ignored);
}
}  // namespace

char csvSeparator(const std::string& text)
{
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? end : end - at);
        if (!isComment(line, 0) && line.find_first_not_of(" \t\r,;") != std::string::npos)
            return line.find(';') != std::string::npos && line.find(',') == std::string::npos
                       ? ';'
                       : ',';
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return ',';
}

bool parseCsv(const std::string& text, char separator, std::vector<CsvRecord>* records,
              CsvProblem* problem)
{
    int line = 1;
    std::size_t at = 0;
    while (at < text.size()) {
        const bool comment = isComment(text, at);
        if (comment || isBlankRow(text, at, separator)) {
            CsvRecord record;
            if (comment && commentAsRecord(text, at, separator, line, &record))
                records->push_back(record);
            for (; !atLineEnd(text, at); ++at)
                if (text[at] == '\r') {
                    *problem = CsvProblem{line, LONE_CR};
                    return false;
                }
            at = pastLineEnd(text, at, &line);
            continue;
        }
        CsvRecord record{line, {}, false};
        if (!parseRecord(text, separator, &at, &line, &record, problem))
            return false;
        records->push_back(record);
    }
    return true;
}
