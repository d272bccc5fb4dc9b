// Reading a ledger back: the report's JSON lines, the last line per address
// counting, as --summary reads them.
#pragma once

#include <map>
#include <string>
#include <vector>

// The fields of one report line, strings unescaped, numbers and literals
// as written.
using LedgerLine = std::map<std::string, std::string>;

// Parses one line holding a flat JSON object; false when it is not one.
bool parseLedgerLine(const std::string& text, LedgerLine* line);

// The field's value, empty when the line has none.
std::string ledgerField(const LedgerLine& line, const std::string& key);

// The last line of each address, in the order the addresses first appear.
// False after reporting a file that cannot be read or a line that is not a
// report line; a half-written last line (a crash mid-write) is ignored with
// a note on standard error.
bool readLedger(const std::string& path, std::vector<LedgerLine>* lastPerAddress);
