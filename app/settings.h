// The process-wide settings record, filled from the command line.
#pragma once

#include <cstdint>

// fileType codes; an update package may carry 1 to 7, only these are sent.
constexpr std::uint8_t TYPE_MAIN_HEX = 2;
constexpr std::uint8_t TYPE_DSP_HEX = 3;
constexpr std::uint8_t TYPE_LOGO = 4;
constexpr std::uint8_t TYPE_JAVA = 5;
constexpr std::uint8_t TYPE_HTML = 6;

constexpr std::uint16_t DEBUG_PORT = 9029;
constexpr std::uint16_t UPDATE_PORT = 69;

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
