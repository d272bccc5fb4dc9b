// --password-file: the Set Password kept off the command line.
#pragma once

#include <string>

// The first line of text without its line end (LF or CR LF).
std::string firstLineOf(const std::string& text);

// Reads the password from the file's first line; false after reporting a
// file that cannot be read or (on Linux) that other users may read.
bool readPasswordFile(const std::string& path, std::string* password);
