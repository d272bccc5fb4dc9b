// The process-wide settings record, filled from the command line.
#pragma once

#include <cstdint>

#include "image/file_types.h"
#include "link/ports.h"

constexpr unsigned TEXT_FIELD_SIZE = 256;
constexpr unsigned KEY_FIELD_SIZE = 16;
// A file name takes up to 256 characters, each up to four bytes of UTF-8,
// so a name in Cyrillic is not cut at half the length of a Latin one.
constexpr unsigned NAME_FIELD_SIZE = 4 * TEXT_FIELD_SIZE;

// Each text field has one byte more than a value may fill, so it always
// stays terminated.
struct SettingsRecord {
    char targetIp[TEXT_FIELD_SIZE + 1];
    std::uint16_t debugPort;
    std::uint16_t updatePort;
    std::uint32_t packagedInput;
    std::uint8_t partialEncrypt;
    char setPassword[TEXT_FIELD_SIZE + 1];
    char encryptKey[KEY_FIELD_SIZE + 1];
    char fileName[NAME_FIELD_SIZE + 1];
    std::uint8_t fileType;
};

extern SettingsRecord settings;

// Copies at most TEXT_FIELD_SIZE characters of a UTF-8 name into fileName
// (a byte that is not UTF-8 counts as one).
void setFileName(const char* name);

// Back to the defaults (the record starts with them; tests reset it).
void resetSettings();
