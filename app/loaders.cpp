#include "app/loaders.h"

#include "app/settings.h"
#include "image/update_file.h"

std::uint32_t readUpdateFile(const char* path)
{
    return loadUpdateFile(path, settings.packagedInput != 0, settings.fileType);
}
