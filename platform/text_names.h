// Names and text between the programs and the system. Inside, every name
// and every text an operator typed or saved is UTF-8; these routines turn
// it into what the system's calls, the console and the device take.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Replaces argc and argv with the command line as UTF-8. Windows: read as
// wide characters, so no name is turned into a lookalike of the ANSI code
// page. Elsewhere the arguments are left as the system gave them.
void platformUtf8Arguments(int* argc, char*** argv);

// The names a file argument stands for. Windows programs expand wildcards
// themselves (cmd.exe does not): * and ? in the last part of the name, the
// matches sorted; no match, or no wildcard, leaves the argument as it is.
// Elsewhere the shell has expanded them: the argument as it is.
std::vector<std::string> platformExpandWildcards(const std::string& argument);

// The bytes a device receives for a password typed or saved as UTF-8: on
// Windows those of the ANSI code page, as VNloader's -P has always sent
// them; elsewhere the bytes as they are. False when a character has no
// place in the code page (never a lookalike).
bool platformPasswordBytes(const std::string& utf8, std::string* bytes);
// "code page 1252" on Windows, "UTF-8" elsewhere: for messages.
std::string platformPasswordEncoding();

// Writes UTF-8 text to standard output or standard error so that the
// reader sees its characters. A Windows console gets it as wide characters;
// redirected, ASCII goes out unchanged and other text in the console's
// code page (the ANSI code page without a console), '?' where a character
// has no place. A document (JSON) stays UTF-8 when redirected. Bytes that
// are not UTF-8 go out unchanged. Elsewhere the bytes as they are.
void platformWriteText(std::FILE* stream, const char* text, std::size_t length,
                       bool document = false);

// Opens a file by its UTF-8 name with a fopen mode; nullptr on failure.
std::FILE* platformOpenFile(const char* path, const char* mode);
