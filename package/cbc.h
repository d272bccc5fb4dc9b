// DES in CBC mode, both directions, chained as the device chains a package:
// cipher block i = DES(plain block i XOR cipher block i - 1), the first one
// chained to the initial vector. Every chain has its own state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/des.h"

struct CbcChain {
    const std::uint8_t* key;                  // 8 bytes, as desBlock takes them
    std::uint8_t previous[DES_BLOCK_SIZE];  // cipher block the next one chains to
};

void cbcStart(CbcChain& chain, const std::uint8_t* key,
              const std::uint8_t* initVector = cbcInitVector);
// One 8-byte block in place: enciphered when encryptFlag is non-zero,
// deciphered otherwise. Blocks left out of a chain take no part in it.
void cbcBlock(CbcChain& chain, std::uint8_t* block, std::uint8_t encryptFlag);
// A fresh chain over the whole blocks of length bytes, in place; a shorter
// tail stays as it is.
void cbcRun(std::uint8_t* data, std::size_t length, const std::uint8_t* key,
            std::uint8_t encryptFlag);
