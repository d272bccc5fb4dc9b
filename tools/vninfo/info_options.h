// VNinfo's command line.
#pragma once

#include <cstdint>
#include <string>

constexpr unsigned INFO_KEY_SIZE = 16;  // as VNloader's -K field; the cipher reads 8

struct InfoOptions {
    std::string path;
    bool plain;                // -NE
    std::uint8_t fileType;     // from -T, with -NE
    bool typeIgnored;          // -T without -NE: the package header decides
    bool wholeEncrypt;         // -EA
    bool keyGiven;
    std::uint8_t key[INFO_KEY_SIZE + 1];  // key text, zero-filled
    bool json;
};

extern InfoOptions infoOptions;
extern const char infoUsageText[];  // the options; info_usage.h adds the exit statuses

constexpr int INFO_ARGS_BAD = 0;   // a message has been printed
constexpr int INFO_ARGS_RUN = 1;
constexpr int INFO_ARGS_HELP = 2;

int parseInfoOptions(int argc, const char* const* argv);
