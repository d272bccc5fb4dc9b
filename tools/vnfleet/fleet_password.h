// --password-file: the Set Password kept off the command line.
#pragma once

#include <string>

// The first line of text without its line end (LF or CR LF) and without a
// UTF-8 byte-order mark; false when that line is empty.
bool passwordOfText(const std::string& text, std::string* password);

// Reads the password from the file's first line (UTF-8), in the device's
// bytes; false after reporting a file that cannot be read, is not UTF-8, (on
// Linux) that other users may read, whose first line is empty, or a password
// the bytes cannot hold.
bool readPasswordFile(const std::string& path, std::string* password);

// A password typed or saved as UTF-8 in the bytes VNloader's -P sends on
// this system; false after saying so, naming where it came from.
bool passwordInDeviceBytes(const std::string& typed, const std::string& where, std::string* bytes);
