#include "fleet_unfit.h"

#include "image/image_kinds.h"
#include "fitness_check.h"

bool fitToSend(const std::string& listPath, const DeviceEntry& device, bool allowUnfit)
{
    const ImageKind* kind = imageKindOfLetter(device.typeLetter);
    infoOptions = InfoOptions{};
    infoOptions.path = device.file;
    infoOptions.plain = device.typeLetter != 0;
    infoOptions.fileType = kind ? kind->fileType : 0;
    infoOptions.wholeEncrypt = device.wholeEnciphered;
    InfoReport report{};
    inspectFile(report);
    const int status = reportStatus(report);
    if (status == INFO_FIT)
        return true;
    std::string finding;
    for (const Finding& problem : report.problems)
        if (problem.status == status) {
            finding = problem.text;
            break;
        }
    reportListProblem(listPath, device.line,
                      "VNinfo calls " + device.file + " unfit (status " + std::to_string(status) +
                          ", " + statusMeaning(status) + "): " + finding +
                          (allowUnfit ? "; sent anyway (--allow-unfit)" : ""));
    return allowUnfit;
}
