// --password-file: the Set Password kept off the command line.
#pragma once

#include <string>

// The first line of text without its line end (LF or CR LF) and without a
// UTF-8 byte-order mark; false when that line is empty.
bool passwordOfText(const std::string& text, std::string* password);

// Reads the password from the file's first line; false after reporting a
// file that cannot be read, (on Linux) that other users may read, or whose
// first line is empty.
bool readPasswordFile(const std::string& path, std::string* password);
