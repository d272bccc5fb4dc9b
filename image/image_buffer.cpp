#include "image/image_buffer.h"

std::uint8_t imageBuffer[IMAGE_BUFFER_SIZE];
std::uint32_t nMinHexAddress;
std::uint32_t nMaxHexAddress;
