#include "app/package_mode.h"

#include "app/settings.h"
#include "package/package_writer.h"

int encryptFile()
{
    const PackageRequest request{
        settings.fileName,
        settings.fileType,
        settings.packagedInput != 0,
        settings.partialEncrypt != 0,
        reinterpret_cast<const std::uint8_t*>(settings.encryptKey),
    };
    return writeUpdatePackage(request);
}
