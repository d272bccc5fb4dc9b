#include "info_raw.h"

#include "app/settings.h"
#include "image/image_buffer.h"
#include "info_load.h"
#include "info_package.h"

void inspectRaw(InfoReport& report, std::uint8_t fileType)
{
    RawView& view = report.raw;
    view.present = true;

    const std::uint32_t loaded = loadLikeVNloader(report, false, fileType);
    if (!loaded) {
        addProblem(report, INFO_UNREADABLE, "VNloader would stop: \"%s\"",
                   report.loaderMessage.c_str());
        return;
    }
    view.loadedLength = loaded;
    view.contentLength = fileType == TYPE_HTML ? loaded : loaded - 2;
    if (fileType != TYPE_HTML && view.contentLength > 0xFFFFu)
        addNote(report, "the length prefix keeps only the low 16 bits of %u",
                static_cast<unsigned>(view.contentLength));

    // An operator who gives -NE for a package would send the package file,
    // headers and cipher text included, as the image.
    std::vector<std::uint8_t> head;
    if (readFileBytes(report.path.c_str(), PACKAGE_HEADER_SIZE + IMAGE_BUFFER_SIZE, &head) &&
        looksLikePackage(head))
        addProblem(report, INFO_MISMATCH,
                   "the file is an update package (type %d, %s): send it without -NE, or "
                   "VNloader sends the package file itself as %s content",
                   static_cast<int>(head[1]), typeName(head[1]), typeName(fileType));
}
