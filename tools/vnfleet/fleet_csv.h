// CSV as RFC 4180 has it, plus comment lines: a record that starts with '#'
// is skipped, and so is an empty line.
#pragma once

#include <string>
#include <vector>

struct CsvRecord {
    int line;  // where the record starts, from 1
    std::vector<std::string> fields;
};

struct CsvProblem {
    int line;
    std::string what;
};

// False with *problem set when the quoting is broken.
bool parseCsv(const std::string& text, std::vector<CsvRecord>* records, CsvProblem* problem);
