#include "info_findings.h"

#include "image/file_types.h"
#include "image/image_geometry.h"

namespace {
constexpr std::uint32_t LENGTH_PREFIX_SIZE = 2;
constexpr std::uint32_t WORD_LIMIT = 0xFFFF;

std::uint16_t u16At(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t at)
{
    const unsigned low = at < length ? bytes[at] : 0;
    const unsigned high = at + 1 < length ? bytes[at + 1] : 0;
    return static_cast<std::uint16_t>(low | high << 8);
}
}  // namespace

ImageShape imageShapeOf(const std::uint8_t* image, std::uint32_t imageLength,
                        std::uint16_t sourceLength)
{
    ImageShape shape{};
    shape.prefix = u16At(image, imageLength, 0);
    shape.lowWord = shape.prefix;
    shape.highWord = u16At(image, imageLength, 2);
    shape.lengthPrefixed = ((shape.prefix + LENGTH_PREFIX_SIZE) & 0xFFFFu) == sourceLength;
    shape.wordImage = shape.highWord >= shape.lowWord &&
                      (wordImageLength(shape.lowWord, shape.highWord) & 0xFFFFu) == sourceLength;
    return shape;
}

std::optional<Finding> shapeFinding(int fileType, const ImageShape& shape)
{
    const char* type = typeName(fileType);
    const bool prefixed = fileType == TYPE_JAVA || fileType == TYPE_LOGO;
    if (prefixed || fileType == TYPE_DSP_HEX) {
        if (prefixed ? shape.lengthPrefixed : shape.wordImage)
            return std::nullopt;
        return makeFinding(INFO_MISMATCH,
                           "the image does not have the shape of a %s image (%s that give the "
                           "source length): the type byte may be wrong",
                           type, prefixed ? "a length prefix" : "word bounds");
    }
    if (shape.lengthPrefixed)
        return makeFinding(INFO_MISMATCH,
                           "the image has the shape of a Java or logo image (it starts with its "
                           "length less 2, %u), not of a %s image: the type byte may be wrong",
                           static_cast<unsigned>(shape.prefix), type);
    if (shape.wordImage)
        return makeFinding(INFO_MISMATCH,
                           "the image has the shape of a DSP image (it starts with the word bounds "
                           "0x%04x and 0x%04x), not of a %s image: the type byte may be wrong",
                           static_cast<unsigned>(shape.lowWord),
                           static_cast<unsigned>(shape.highWord), type);
    return std::nullopt;
}

namespace {
// Code points of text that are no control: TAB, LF and CR pass.
bool textCodePoint(std::uint32_t code)
{
    if (code < 0x20)
        return code == '\t' || code == '\n' || code == '\r';
    return code != 0x7F && (code < 0x80 || code > 0x9F);
}

// Valid UTF-8 (no overlong form, surrogate or code point past U+10FFFF)
// of such code points only.
bool isText(const std::uint8_t* bytes, std::uint32_t length)
{
    for (std::uint32_t at = 0; at < length;) {
        const unsigned lead = bytes[at];
        const unsigned extra = lead < 0x80 ? 0 : lead >= 0xC2 && lead <= 0xDF ? 1
                               : lead >= 0xE0 && lead <= 0xEF                ? 2
                               : lead >= 0xF0 && lead <= 0xF4                ? 3
                                                                            : 4;
        if (extra == 4 || length - at <= extra)
            return false;
        std::uint32_t code = extra == 0 ? lead : lead & (0x3Fu >> extra);
        for (unsigned i = 1; i <= extra; ++i) {
            if ((bytes[at + i] & 0xC0u) != 0x80u)
                return false;
            code = code << 6 | (bytes[at + i] & 0x3Fu);
        }
        const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
            !textCodePoint(code))
            return false;
        at += extra + 1;
    }
    return true;
}
}  // namespace

std::optional<Finding> textImageFinding(int fileType, const std::uint8_t* image,
                                        std::uint32_t length)
{
    if (fileType != TYPE_MAIN_HEX || length == 0 || !isText(image, length))
        return std::nullopt;
    return makeFinding(INFO_MISMATCH,
                       "the image is text, as an html page is: was the type byte changed?");
}

std::optional<Finding> wordBoundFinding(int fileType, std::uint32_t maxBound)
{
    if (fileType != TYPE_DSP_HEX || maxBound <= WORD_LIMIT)
        return std::nullopt;
    return makeFinding(INFO_MISMATCH,
                       "the upper word bound 0x%x does not fit the word image's 16-bit header",
                       static_cast<unsigned>(maxBound));
}

std::optional<Finding> endOfFileFinding(const HexView& view)
{
    if (view.endOfFileLine != 0)
        return std::nullopt;
    return makeFinding(INFO_HEX_NO_END,
                       "no end-of-file record (type 01): the file may be cut short or still being "
                       "written; VNloader would send what it holds");
}
