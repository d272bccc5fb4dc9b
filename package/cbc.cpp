#include "package/cbc.h"

#include <cstring>

void cbcStart(CbcChain& chain, const std::uint8_t* key, const std::uint8_t* initVector)
{
    chain.key = key;
    std::memcpy(chain.previous, initVector, DES_BLOCK_SIZE);
}

void cbcBlock(CbcChain& chain, std::uint8_t* block, std::uint8_t encryptFlag)
{
    desCbc(block, 1, chain.key, chain.previous, encryptFlag);
}

void cbcRun(std::uint8_t* data, std::size_t length, const std::uint8_t* key,
            std::uint8_t encryptFlag)
{
    CbcChain chain;
    cbcStart(chain, key);
    desCbc(data, length / DES_BLOCK_SIZE, key, chain.previous, encryptFlag);
}
