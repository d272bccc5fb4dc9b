#include "sim_cipher.h"

#include "package/cbc.h"

void decipherFlaggedBlocks(std::uint8_t* data, const std::uint8_t* flagged,
                           std::size_t blockCount, const std::uint8_t* key)
{
    CbcChain chain;
    cbcStart(chain, key);
    for (std::size_t i = 0; i < blockCount; ++i) {
        if (flagged[i])
            cbcBlock(chain, data + DES_BLOCK_SIZE * i, 0);
    }
}
