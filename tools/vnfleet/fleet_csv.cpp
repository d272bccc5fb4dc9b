#include "fleet_csv.h"

namespace {
bool atLineEnd(const std::string& text, std::size_t at)
{
    return at >= text.size() || text[at] == '\n' || (text[at] == '\r' && at + 1 < text.size() &&
                                                     text[at + 1] == '\n');
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

bool parseCsv(const std::string& text, std::vector<CsvRecord>* records, CsvProblem* problem)
{
    int line = 1;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == '#' || atLineEnd(text, at)) {
            while (!atLineEnd(text, at))
                ++at;
            at = pastLineEnd(text, at, &line);
            continue;
        }
        CsvRecord record{line, {}};
        for (;;) {
            std::string field;
            if (at < text.size() && text[at] == '"') {
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
                if (!atLineEnd(text, at) && text[at] != ',') {
                    *problem = CsvProblem{line, "text after a closing quote"};
                    return false;
                }
            } else {
                while (!atLineEnd(text, at) && text[at] != ',') {
                    if (text[at] == '"') {
                        *problem = CsvProblem{line, "a quote inside an unquoted field"};
                        return false;
                    }
                    field += text[at++];
                }
            }
            record.fields.push_back(field);
            if (at < text.size() && text[at] == ',') {
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
