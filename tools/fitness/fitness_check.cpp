#include "fitness_check.h"

#include <cstring>

#include "app/settings.h"
#include "image/image_kinds.h"
#include "info_hex.h"
#include "info_package.h"
#include "info_raw.h"
#include "info_transfer.h"

InfoOptions infoOptions;

namespace {
const char* inputKindName(bool plain, std::uint8_t fileType)
{
    const ImageKind* kind = imageKindOf(fileType);
    return !plain ? "package" : kind ? kind->inputName : "html";
}

// The settings VNloader would run with for the same options.
void settingsFromOptions()
{
    resetSettings();
    settings.packagedInput = infoOptions.plain ? 0 : 1;
    settings.partialEncrypt = infoOptions.wholeEncrypt ? 0 : 1;
    setFileName(infoOptions.path.c_str());
}
}  // namespace

void inspectFile(InfoReport& report)
{
    report.path = infoOptions.path;
    report.inputKind = inputKindName(infoOptions.plain, infoOptions.fileType);
    settingsFromOptions();
    const std::uint8_t type = infoOptions.fileType;
    if (!infoOptions.plain)
        inspectPackage(report);
    else if (type == TYPE_MAIN_HEX || type == TYPE_DSP_HEX)
        inspectHex(report, type);
    else
        inspectRaw(report, type);

    if (infoOptions.typeIgnored)
        addNote(report, "-T is ignored without -NE: the package header gives the type");
    if (infoOptions.plain && infoOptions.keyGiven)
        addNote(report, "-K is not used for a plain file");
    if (infoOptions.plain && infoOptions.wholeEncrypt)
        addNote(report, "-EA changes nothing for a plain file");
    if (report.loaderAccepted)  // as VNloader reads it: a package sets it
        planTransfer(report, static_cast<std::int8_t>(settings.fileType));
}
