#pragma once

#include <cstdint>

// What to package: the plain firmware file, its fileType (2 to 6), how the
// raw-file loader is to take it, how much of the body to encipher, the key.
struct PackageRequest {
    const char* fileName;
    std::uint8_t fileType;
    bool packagedInput;   // an update package rather than a raw file
    bool partialEncrypt;  // only the first code-update packet's bytes
    const std::uint8_t* key;  // its first 8 bytes are used
};

// Loads the file as its fileType says, builds and enciphers the package
// body and writes main.enc, dsp.enc, java.enc, logo.enc or html.enc into
// the current directory. Returns 1 when the package was written, 0
// otherwise (the message has been printed).
int writeUpdatePackage(const PackageRequest& request);
