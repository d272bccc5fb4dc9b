// The command line: options into the settings record, and the run mode.
#pragma once

#include <cstdint>

enum RunMode {
    RUN_USAGE,     // usage text printed; the process ends with status 1
    RUN_PACKAGE,   // a key was given
    RUN_TRANSFER,  // send the file, listening beside it
    RUN_LISTEN,    // -no: debug listener only
};

extern const char usageText[];
extern const char versionText[];

// A type letter (M, D, L, J, H) to its fileType code; false for any other.
bool mapTypeLetter(std::uint8_t letter, std::uint8_t* type);
// An option name after its '-' or '/', compared whole.
bool sameOptionName(const char* given, const char* name, bool ignoreCase);

// Parses argv into settings (which must hold the defaults), printing the
// version, and for bad arguments the messages and the usage text.
RunMode parseCommandLine(int argc, const char* const* argv);
