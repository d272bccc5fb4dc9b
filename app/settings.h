// The process-wide settings record, filled from the command line.
#pragma once

#include <cstdint>

#include "image/file_types.h"
#include "link/ports.h"

constexpr unsigned TEXT_FIELD_SIZE = 256;
constexpr unsigned KEY_FIELD_SIZE = 16;

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
    char fileName[TEXT_FIELD_SIZE + 1];
    std::uint8_t fileType;
};

extern SettingsRecord settings;

// Back to the defaults (the record starts with them; tests reset it).
void resetSettings();
