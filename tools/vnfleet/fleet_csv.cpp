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
}  // namespace

char csvSeparator(const std::string& text)
{
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? end : end - at);
        if (!isComment(line, 0) && !trimmed(line).empty() && trimmed(line) != "\r")
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
        if (isComment(text, at) || atLineEnd(text, pastBlanks(text, at))) {
            while (!atLineEnd(text, at))
                ++at;
            at = pastLineEnd(text, at, &line);
            continue;
        }
        CsvRecord record{line, {}};
        for (;;) {
            std::string field;
            std::size_t quote = pastBlanks(text, at);
            if (quote < text.size() && text[quote] == '"') {
                at = quote;
                int opened = line;
                for (++at;; ++at) {
                    if (at >= text.size()) {
                        *problem = CsvProblem{opened, "a quoted field is never closed"};
                        return false;
                    }
                    if (text[at] == '\n')
                        ++line;
                    if (text[at] != '"') {
                        field += text[at];
                        continue;
                    }
                    if (at + 1 < text.size() && text[at + 1] == '"') {
                        field += '"';
                        ++at;
                        continue;
                    }
                    ++at;
                    break;
                }
                at = pastBlanks(text, at);
                if (!atLineEnd(text, at) && text[at] != separator) {
                    *problem = CsvProblem{line, "text after a closing quote"};
                    return false;
                }
            } else {
                while (!atLineEnd(text, at) && text[at] != separator) {
                    if (text[at] == '"') {
                        *problem = CsvProblem{line, "a quote inside an unquoted field"};
                        return false;
                    }
                    field += text[at++];
                }
                field = trimmed(field);
            }
            record.fields.push_back(field);
            if (at < text.size() && text[at] == separator) {
                ++at;
                continue;
            }
            at = pastLineEnd(text, at, &line);
            break;
        }
        records->push_back(record);
    }
    return true;
}
