// Where a loaded image lies in the image buffer, and how many pages it fills.
#pragma once

#include <cstdint>

#include "image/image_buffer.h"

// The DSP word image starts with its two u16 word bounds.
constexpr std::uint32_t WORD_IMAGE_HEADER_SIZE = 4;

// Pages of a byte count, a partial page counted.
constexpr std::uint32_t pagesOf(std::uint64_t bytes)
{
    return static_cast<std::uint32_t>((bytes + PAGE_SIZE - 1) / PAGE_SIZE);
}

// Byte length of the word image of a DSP file with these word bounds.
constexpr std::uint64_t wordImageLength(std::uint32_t minWord, std::uint32_t maxWord)
{
    return 2ull * (maxWord - minWord) + WORD_IMAGE_HEADER_SIZE;
}

struct ImageExtent {
    std::uint32_t base;  // first byte of the image in the buffer
    std::uint32_t size;  // bytes from there (S of the page ranges)
};

// The image a loader left between minAddress and maxAddress: a package body
// from offset 0 whatever its header's lower bound says, a main HEX image
// between its byte bounds, a DSP word image from twice its lower word bound,
// a raw file from 0. False when the bounds describe no image (a HEX file
// without data records). Sizes wrap as the unsigned bounds do.
bool loadedImageExtent(int fileType, bool packaged, std::uint32_t minAddress,
                       std::uint32_t maxAddress, ImageExtent* extent);
