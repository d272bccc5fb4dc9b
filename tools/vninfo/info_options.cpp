#include "info_options.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "app/settings.h"
#include "diag/console.h"
#include "info_usage.h"
#include "platform/text_names.h"


const char infoUsageText[] =
    "usage: VNinfo [options] <file>\n"
    "Tells whether a file is fit for VNloader to send, without a device. It\n"
    "writes nothing. By default the file is an update package.\n"
    "  -f <file>      the file to inspect (or give it alone)\n"
    "  -K <key>       DES key: decipher the package body, check its page header\n"
    "  -EA            the package was enciphered whole (VNloader -EA)\n"
    "  -NE -T <type>  a plain file, as VNloader -NE -T: M main CPU HEX, D DSP HEX,\n"
    "                 L logo, J Java, H html\n"
    "  --json         print one JSON object instead of text\n"
    "  -h, --help     print this text\n";

namespace {
// Options start with '-' or '/' and compare as VNloader's do.
bool isOption(const char* arg, const char* name, bool ignoreCase)
{
    return (arg[0] == '-' || arg[0] == '/') && sameOptionName(arg + 1, name, ignoreCase);
}

int usageError(const char* format, ...) VN_PRINTF(1, 2);

// Says what is wrong with the command line, on standard error.
int usageError(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    companionError("VNinfo: %s\n", text);
    return INFO_ARGS_BAD;
}
// The one file to inspect; a wildcard stands for the files it matches.
bool takeFile(const char* argument)
{
    for (const std::string& name : platformExpandWildcards(argument)) {
        if (!infoOptions.path.empty()) {
            usageError("more than one file: %s", name.c_str());
            return false;
        }
        infoOptions.path = name;
    }
    return true;
}
}  // namespace

int parseInfoOptions(int argc, const char* const* argv)
{
    infoOptions = InfoOptions{};
    const char* typeText = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)
            return INFO_ARGS_HELP;
        if (std::strcmp(arg, "--json") == 0) {
            infoOptions.json = true;
            continue;
        }
        if (isOption(arg, "NE", false)) {
            infoOptions.plain = true;
            continue;
        }
        if (isOption(arg, "EA", false)) {
            infoOptions.wholeEncrypt = true;
            continue;
        }
        const bool takesValue =
            isOption(arg, "K", true) || isOption(arg, "T", false) || isOption(arg, "f", false);
        if (takesValue) {
            if (i + 1 >= argc)
                return usageError("%s needs a value", arg);
            const char* value = argv[++i];
            if (isOption(arg, "K", true)) {
                if (*value == '\0')
                    return usageError("%s needs a key that is not empty", arg);
                std::memset(infoOptions.key, 0, sizeof infoOptions.key);
                std::strncpy(reinterpret_cast<char*>(infoOptions.key), value, INFO_KEY_SIZE);
                infoOptions.keyGiven = true;
            } else if (isOption(arg, "T", false)) {
                typeText = value;
            } else if (!takeFile(value)) {
                return INFO_ARGS_BAD;
            }
            continue;
        }
        if (arg[0] == '-' && arg[1] != '\0')
            return usageError("unknown option: %s", arg);
        if (!takeFile(arg))
            return INFO_ARGS_BAD;
    }
    if (infoOptions.path.empty())
        return usageError("no file given");
    infoOptions.typeIgnored = typeText != nullptr && !infoOptions.plain;
    if (infoOptions.plain) {
        if (typeText == nullptr)
            return usageError("-NE needs -T with M, D, L, J or H");
        if (!mapTypeLetter(static_cast<std::uint8_t>(typeText[0]), &infoOptions.fileType))
            return usageError("unknown file type: %s (M, D, L, J or H)", typeText);
    }
    return INFO_ARGS_RUN;
}
