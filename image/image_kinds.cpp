#include "image/image_kinds.h"

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

const ImageKind* imageKindAtPage(std::uint32_t page)
{
    for (const ImageKind& kind : imageKinds)
        if (page >= kind.firstPage && page < kind.pageLimit)
            return &kind;
    return nullptr;
}
