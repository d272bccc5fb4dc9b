// Checks that judge what was loaded and return what they find; they print
// nothing and touch no report.
#pragma once

#include <cstdint>
#include <optional>

#include "info_report.h"

// What a deciphered package image looks like, from its first four bytes
// and the page header's source length.
struct ImageShape {
    std::uint16_t prefix;     // bytes 0-1: a Java or logo image's content length
    std::uint16_t lowWord;    // bytes 0-1 and 2-3: a DSP word image's bounds
    std::uint16_t highWord;
    bool lengthPrefixed;      // prefix + 2 is the source length
    bool wordImage;           // 2 x (high - low) + 4 is the source length
};

ImageShape imageShapeOf(const std::uint8_t* image, std::uint32_t imageLength,
                        std::uint16_t sourceLength);

// Java and logo images are length-prefixed, DSP images word images, and
// main and html images neither: any other shape betrays a wrong type byte.
std::optional<Finding> shapeFinding(int fileType, const ImageShape& shape);

// Html and main images have no shape that tells them apart, but machine code
// holds control bytes and erased flash (0xFF) is no UTF-8: a main image
// that is UTF-8 text without controls but TAB, CR and LF is a page.
std::optional<Finding> textImageFinding(int fileType, const std::uint8_t* image,
                                        std::uint32_t length);

// The word image's header holds a DSP image's word bounds in 16 bits.
std::optional<Finding> wordBoundFinding(int fileType, std::uint32_t maxBound);

// A plain HEX file without an end-of-file record may be cut short.
std::optional<Finding> endOfFileFinding(const HexView& view);
