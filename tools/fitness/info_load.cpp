#include "info_load.h"

#include "app/loaders.h"
#include "app/settings.h"
#include "diag/console_capture.h"
#include "image/hex_reader.h"

std::uint32_t loadLikeVNloader(InfoReport& report, bool packaged, std::uint8_t fileType)
{
    settings.packagedInput = packaged ? 1 : 0;
    if (!packaged)
        settings.fileType = fileType;
    const bool hex = !packaged && (fileType == TYPE_MAIN_HEX || fileType == TYPE_DSP_HEX);
    std::uint32_t loaded = 0;
    {
        ConsoleCapture loaderWords;
        loaded = hex ? static_cast<std::uint32_t>(readHexFile(report.path.c_str(), fileType))
                     : readUpdateFile(report.path.c_str());
        report.loaderMessage = ConsoleCapture::text();
    }
    report.loaderAccepted = loaded != 0;
    return loaded;
}
