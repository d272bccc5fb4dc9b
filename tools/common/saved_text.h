// Text an operator saved (a device list, a password file): UTF-8 on every
// platform, as spreadsheets and editors save it when asked to.
#pragma once

#include <string>

// Drops a UTF-8 byte-order mark. False for UTF-16 (its byte-order mark or a
// zero byte) and for bytes that are not UTF-8, with the line and a problem
// that tells how to save it, naming what it is ("the list").
bool takeSavedText(std::string* text, const char* what, int* line, std::string* problem);
