#include "image/input_file.h"

#include "platform/platform.h"

std::FILE* openInputFile(const char* path)
{
    return platformOpenRegularFile(path);
}
