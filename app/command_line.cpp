#include "app/command_line.h"

#include <cstring>
#include <string>

#include "app/settings.h"
#include "diag/console.h"
#include "image/image_kinds.h"
#include "platform/text_names.h"
#include "platform/utf8_text.h"

const char usageText[] =
    "usage: vexaNode Loader VNloader\n"
    "-IP <IP Address>       Set the ip address of the vexaNode that is being updated\n"
    "-P <Password>          The Password for the vexaNode\n"
    "-v                     Print the version\n"
    "-no                    Listen for debug messages only. No download\n"
    "-f <FileName>          The file name to download\n";

const char versionText[] = "V2.2";

namespace {
enum OptionId { OPT_IP, OPT_P, OPT_V, OPT_NO, OPT_T, OPT_F, OPT_NE, OPT_EA, OPT_K };

struct Option {
    const char* name;
    bool ignoreCase;
    bool takesValue;
    OptionId id;
};

// Compared in this order; the first match wins.
constexpr Option options[] = {
    {"IP", true, true, OPT_IP},   {"P", false, true, OPT_P},   {"v", true, false, OPT_V},
    {"no", true, false, OPT_NO},  {"T", false, true, OPT_T},   {"f", false, true, OPT_F},
    {"NE", false, false, OPT_NE}, {"EA", false, false, OPT_EA}, {"K", true, true, OPT_K},
};

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Takes at most size bytes and zero-fills the rest; the field has one byte
// more, so it stays terminated.
void copyField(char* field, unsigned size, const char* value)
{
    std::strncpy(field, value, size);
    field[size] = '\0';
}

// The device gets the password in the bytes it has always got from -P on
// this system; a character those bytes cannot hold would be a lookalike.
bool takePassword(const char* value)
{
    std::string bytes;
    if (!platformPasswordBytes(value, &bytes)) {
        consolePrint("The Password has a character that %s cannot hold\n",
                     platformPasswordEncoding().c_str());
        return false;
    }
    copyField(settings.setPassword, TEXT_FIELD_SIZE, bytes.c_str());
    return true;
}

RunMode usage()
{
    consolePrint("%s", usageText);
    return RUN_USAGE;
}
}  // namespace

bool sameOptionName(const char* given, const char* name, bool ignoreCase)
{
    for (; *given && *name; ++given, ++name) {
        char a = ignoreCase ? asciiLower(*given) : *given;
        char b = ignoreCase ? asciiLower(*name) : *name;
        if (a != b)
            return false;
    }
    return *given == *name;
}

bool mapTypeLetter(std::uint8_t letter, std::uint8_t* type)
{
    const ImageKind* kind = imageKindOfLetter(static_cast<char>(letter));
    if (!kind)
        return false;
    *type = kind->fileType;
    return true;
}

RunMode parseCommandLine(int argc, const char* const* argv)
{
    bool listenOnly = false;
    const char* typeValue = "";
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' && arg[0] != '/')
            return usage();
        const Option* match = nullptr;
        for (const Option& option : options) {
            if (sameOptionName(arg + 1, option.name, option.ignoreCase)) {
                match = &option;
                break;
            }
        }
        if (!match)
            return usage();
        const char* value = nullptr;
        if (match->takesValue) {
            if (i + 1 >= argc)
                return usage();
            value = argv[++i];
        }
        switch (match->id) {
        case OPT_IP: copyField(settings.targetIp, TEXT_FIELD_SIZE, value); break;
        case OPT_P:
            if (!takePassword(value))
                return RUN_USAGE;
            break;
        case OPT_V: consolePrint("%s\n", versionText); break;
        case OPT_NO: listenOnly = true; break;
        case OPT_T:
            settings.fileType = static_cast<std::uint8_t>(value[0]);
            typeValue = value;
            break;
        case OPT_F: setFileName(value); break;
        case OPT_NE: settings.packagedInput = 0; break;
        case OPT_EA: settings.partialEncrypt = 0; break;
        case OPT_K: copyField(settings.encryptKey, KEY_FIELD_SIZE, value); break;
        }
    }
    if (argc <= 1)
        return usage();
    if (!settings.packagedInput) {
        std::uint8_t letter = settings.fileType;
        if (!mapTypeLetter(letter, &settings.fileType)) {
            // A letter beyond ASCII is shown whole, not as its first byte.
            const std::size_t length = utf8SequenceLength(typeValue, std::strlen(typeValue), 0);
            if (letter >= 0x80 && length > 1)
                consolePrint("You have chosen an unavailable file type:%.*s", static_cast<int>(length),
                             typeValue);
            else
                consolePrint("You have chosen an unavailable file type:%c", letter);
            return usage();
        }
    }
    if (settings.encryptKey[0] != '\0')
        return RUN_PACKAGE;
    return listenOnly ? RUN_LISTEN : RUN_TRANSFER;
}
