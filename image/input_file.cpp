#include "image/input_file.h"

#include "platform/platform.h"

std::FILE* openInputFile(const char* path)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file != nullptr && !platformIsRegularFile(file)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}
