#include "image/image_kinds.h"

#include "image/image_geometry.h"

const ImageKind imageKinds[5] = {
    {'M', TYPE_MAIN_HEX, "main CPU HEX", "main-hex", "main.enc",
     "Reading in the Main CPU HEX file to encrypt\n", 0, 1027, PageRule::COUNTED, 9},
    {'D', TYPE_DSP_HEX, "DSP HEX", "dsp-hex", "dsp.enc",
     "Reading in the DSP HEX file to encrypt\n", 1571, 1671, PageRule::DSP_WORDS, 10},
    {'L', TYPE_LOGO, "logo", "logo", "logo.enc", "Reading in the Logo file to encrypt\n", 1555,
     1571, PageRule::WHOLE_AREA, 11},
    {'J', TYPE_JAVA, "Java", "java", "java.enc", "Reading in the Java file to encrypt\n", 1427,
     1555, PageRule::COUNTED, 12},
    {'H', TYPE_HTML, "html", "html", "html.enc", "Reading in the html file to encrypt\n", 1027,
     1427, PageRule::WHOLE_AREA, 13},
};

const ImageKind* imageKindOf(int fileType)
{
    for (const ImageKind& kind : imageKinds)
        if (kind.fileType == fileType)
            return &kind;
    return nullptr;
}

const ImageKind* imageKindOfLetter(char letter)
{
    for (const ImageKind& kind : imageKinds)
        if (kind.letter == letter)
            return &kind;
    return nullptr;
}

PagePlan planPages(const ImageKind& kind, bool packaged, std::uint32_t size)
{
    if (kind.pageRule == PageRule::DSP_WORDS) {
        // No page header left out, no rounding up: one page more than S / 256.
        const std::uint32_t dspLastPage = size / PAGE_SIZE + kind.firstPage + 1;
        const bool fits = dspLastPage <= kind.pageLimit;
        return {fits ? PagePlanVerdict::FITS : PagePlanVerdict::DSP_TOO_LARGE, dspLastPage,
                dspLastPage - kind.firstPage};
    }
    // The page header of a package travels in front of the first page.
    if (packaged && size < PAGE_HEADER_SIZE)
        return {kind.pageRule == PageRule::COUNTED ? PagePlanVerdict::NO_IMAGE
                                                   : PagePlanVerdict::FITS,
                kind.pageLimit, 0};
    const std::uint32_t pages = pagesOf(packaged ? size - PAGE_HEADER_SIZE : size);
    if (pages > pageAllotment(kind))
        return {PagePlanVerdict::OVER_ALLOTMENT, kind.firstPage + pages, pages};
    const std::uint32_t end = kind.pageRule == PageRule::COUNTED ? kind.firstPage + pages
                                                                 : kind.pageLimit;
    return {PagePlanVerdict::FITS, end, pages};
}
