// The kinds of image the loader packages and sends: one row each.
#pragma once

#include <cstdint>

#include "image/file_types.h"

// How a kind's pages follow from its image size S.
enum class PageRule : std::uint8_t {
    COUNTED,     // as many pages as the image fills (a package's page header left out)
    WHOLE_AREA,  // always every page of the kind's area
    DSP_WORDS,   // S / 256 + 1 pages, at most up to pageLimit
};

struct ImageKind {
    char letter;               // -T
    std::uint8_t fileType;
    const char* name;          // for people: "main CPU HEX"
    const char* inputName;     // for reports: "main-hex"
    const char* outputName;    // the package file the writer makes
    const char* startMessage;  // what the writer says first
    std::uint16_t firstPage;   // the kind's area in the device's page space
    std::uint16_t pageLimit;   // exclusive
    PageRule pageRule;
    std::uint8_t finishType;   // in the finish packet
};

extern const ImageKind imageKinds[5];

// The pages a kind owns, every one of them in its area.
constexpr std::uint32_t pageAllotment(const ImageKind& kind)
{
    return static_cast<std::uint32_t>(kind.pageLimit - kind.firstPage);
}

// What the loader says of an image that would leave its kind's pages.
#define IMAGE_OVER_ALLOTMENT_TEXT "Image size exceeds allotment. pages:%d allotment:%d\n"
#define DSP_OVER_ALLOTMENT_TEXT "DSP code size exceeds allotment. dspLastPage:%d\n"

enum class PagePlanVerdict : std::uint8_t {
    FITS,
    NO_IMAGE,        // a package body shorter than its page header
    DSP_TOO_LARGE,   // endPage: dspLastPage
    OVER_ALLOTMENT,  // more pages than the kind owns: imagePages
};

struct PagePlan {
    PagePlanVerdict verdict;
    std::uint32_t endPage;     // exclusive; dspLastPage for a DSP image
    std::uint32_t imagePages;  // pages the image fills (a package's page header left out)
};

// The device pages an image of size bytes goes to (S: a package body with
// its page header, a plain image as the transfer counts it). An image never
// runs past its kind's pages.
PagePlan planPages(const ImageKind& kind, bool packaged, std::uint32_t size);

// nullptr for a code or letter of no kind.
const ImageKind* imageKindOf(int fileType);
const ImageKind* imageKindOfLetter(char letter);
