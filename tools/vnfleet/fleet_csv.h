// CSV as RFC 4180 has it and as spreadsheets write it: comment lines (a
// record whose first character other than a space or tab is '#') are marked,
// empty lines and lines of separators and blanks only are skipped; unquoted
// fields are trimmed of spaces and tabs; spaces around a quoted field are
// dropped, its own kept. Lines end with LF or CR LF; a CR alone outside
// quotes is refused.
#pragma once

#include <string>
#include <vector>

struct CsvRecord {
    int line;  // where the record starts, from 1
    std::vector<std::string> fields;
    bool comment;  // a comment line, split as a record would be
};

struct CsvProblem {
    int line;
    std::string what;
};

// ';' when the first record (the header) holds semicolons and no comma, as
// spreadsheets write CSV where the comma is the decimal mark; else ','.
char csvSeparator(const std::string& text);

// False with *problem set when the quoting is broken.
bool parseCsv(const std::string& text, char separator, std::vector<CsvRecord>* records,
              CsvProblem* problem);
