// DES on 8-byte blocks, with the key bytes in the device's order (DES key
// byte j is stored key byte j ^ 3), and the device's CBC initial vector
// (package/cbc.h chains blocks).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned DES_BLOCK_SIZE = 8;

void desBlock(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* key,
              std::uint8_t encryptFlag);
// CBC over `blocks` whole blocks in place, chained to the 8 bytes at chain,
// which then hold the block the next one chains to: the cipher block in
// both directions.
void desCbc(std::uint8_t* data, std::size_t blocks, const std::uint8_t* key, std::uint8_t* chain,
            std::uint8_t encryptFlag);
void permuteBits(const std::uint8_t* table, const std::uint32_t* in, std::uint32_t* out,
                 std::uint8_t nBits);
void xorBlock(std::uint8_t* block, const std::uint8_t* prev);

extern const std::uint8_t cbcInitVector[8];
