#include "sim_cipher.h"

#include <cstring>

#include "package/des.h"

void decipherFlaggedBlocks(std::uint8_t* data, const std::uint8_t* flagged,
                           std::size_t blockCount, const std::uint8_t* key)
{
    std::uint8_t previous[8];
    std::memcpy(previous, cbcInitVector, sizeof previous);
    for (std::size_t i = 0; i < blockCount; ++i) {
        if (!flagged[i])
            continue;
        std::uint8_t* block = data + 8 * i;
        std::uint8_t cipher[8];
        std::memcpy(cipher, block, sizeof cipher);
        desBlock(block, block, key, 0);
        for (int b = 0; b < 8; ++b)
            block[b] = static_cast<std::uint8_t>(block[b] ^ previous[b]);
        std::memcpy(previous, cipher, sizeof previous);
    }
}
