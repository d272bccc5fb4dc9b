#include "info_findings.h"

#include "image/file_types.h"
#include "image/image_geometry.h"
#include "platform/utf8_text.h"

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

// Valid UTF-8 of such code points only.
bool isText(const std::uint8_t* bytes, std::uint32_t length)
{
    const char* text = reinterpret_cast<const char*>(bytes);
    for (std::size_t at = 0; at < length;) {
        const std::size_t sequence = utf8SequenceLength(text, length, at);
        if (sequence == 0)
            return false;
        // Valid already: the lead's payload bits, then six from each further byte.
        std::uint32_t code = sequence == 1 ? bytes[at] : bytes[at] & (0x7Fu >> sequence);
        for (std::size_t i = 1; i < sequence; ++i)
            code = code << 6 | (bytes[at + i] & 0x3Fu);
        if (!textCodePoint(code))
            return false;
        at += sequence;
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
