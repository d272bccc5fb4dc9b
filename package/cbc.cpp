#include "package/cbc.h"

#include <cstring>

void cbcStart(CbcChain& chain, const std::uint8_t* key, const std::uint8_t* initVector)
{
    chain.key = key;
    std::memcpy(chain.previous, initVector, DES_BLOCK_SIZE);
}

void cbcBlock(CbcChain& chain, std::uint8_t* block, std::uint8_t encryptFlag)
{
    if (encryptFlag) {
        xorBlock(block, chain.previous);
        desBlock(block, block, chain.key, 1);
        std::memcpy(chain.previous, block, DES_BLOCK_SIZE);
        return;
    }
    std::uint8_t cipher[DES_BLOCK_SIZE];
    std::memcpy(cipher, block, DES_BLOCK_SIZE);
    desBlock(block, block, chain.key, 0);
    xorBlock(block, chain.previous);
    std::memcpy(chain.previous, cipher, DES_BLOCK_SIZE);
}

void cbcRun(std::uint8_t* data, std::size_t length, const std::uint8_t* key,
            std::uint8_t encryptFlag)
{
    CbcChain chain;
    cbcStart(chain, key);
    for (std::size_t at = 0; at + DES_BLOCK_SIZE <= length; at += DES_BLOCK_SIZE)
        cbcBlock(chain, data + at, encryptFlag);
}
