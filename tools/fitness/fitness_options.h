// What an inspection is asked to look at, as VNinfo's command line gives
// it (or VNfleet, for each file of its list).
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
