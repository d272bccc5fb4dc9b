#include "image/image_geometry.h"

#include "image/file_types.h"

bool loadedImageExtent(int fileType, bool packaged, std::uint32_t minAddress,
                       std::uint32_t maxAddress, ImageExtent* extent)
{
    if (packaged) {
        *extent = ImageExtent{0, maxAddress};
        return true;
    }
    if (maxAddress < minAddress)
        return false;
    if (fileType == TYPE_DSP_HEX) {
        *extent = ImageExtent{2 * minAddress,
                              static_cast<std::uint32_t>(wordImageLength(minAddress, maxAddress))};
        return true;
    }
    *extent = ImageExtent{minAddress, maxAddress - minAddress};
    return true;
}
