// Deciphering as the device does it: DES-CBC from the fixed initial vector.
#pragma once

#include <cstddef>
#include <cstdint>

// Deciphers in place the 8-byte blocks whose flag is non-zero, as one CBC
// chain in block order, the first flagged block chained to cbcInitVector.
// Unflagged blocks stay as they are and take no part in the chain.
void decipherFlaggedBlocks(std::uint8_t* data, const std::uint8_t* flagged,
                           std::size_t blockCount, const std::uint8_t* key);
