// parseCommandLine on arbitrary argument vectors: the input split at NUL
// bytes. The settings' text fields must stay terminated and the run mode
// must agree with the settings it leaves.
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"
#include "fuzz_support.h"

namespace {
constexpr std::size_t MAX_ARGUMENTS = 64;

template <std::size_t N>
bool terminated(const char (&field)[N], std::size_t limit)
{
    return strnlen(field, N) <= limit;
}

// UTF-8 characters, a byte that is not UTF-8 counted as one, as setFileName counts.
std::size_t characters(const char* text)
{
    std::size_t count = 0;
    for (; *text != '\0'; ++text)
        count += (static_cast<unsigned char>(*text) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

bool endsWith(const std::string& text, const char* tail)
{
    const std::size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> words;
    std::string word;
    for (std::size_t i = 0; i < size && words.size() < MAX_ARGUMENTS; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (!word.empty() && words.size() < MAX_ARGUMENTS)
        words.push_back(word);
    std::vector<const char*> argv{"VNloader"};
    for (const std::string& w : words)
        argv.push_back(w.c_str());

    fuzz::quietConsole();
    resetSettings();
    const RunMode mode = parseCommandLine(static_cast<int>(argv.size()), argv.data());

    FUZZ_CHECK(terminated(settings.targetIp, TEXT_FIELD_SIZE));
    FUZZ_CHECK(terminated(settings.setPassword, TEXT_FIELD_SIZE));
    FUZZ_CHECK(terminated(settings.fileName, NAME_FIELD_SIZE));
    FUZZ_CHECK(characters(settings.fileName) <= TEXT_FIELD_SIZE);
    FUZZ_CHECK(terminated(settings.encryptKey, KEY_FIELD_SIZE));
    FUZZ_CHECK(settings.debugPort == DEBUG_PORT && settings.updatePort == UPDATE_PORT);
    FUZZ_CHECK(settings.packagedInput <= 1 && settings.partialEncrypt <= 1);

    switch (mode) {
    case RUN_USAGE:
        FUZZ_CHECK(endsWith(fuzz::consoleText(), usageText));
        break;
    case RUN_PACKAGE:
    case RUN_TRANSFER:
    case RUN_LISTEN:
        FUZZ_CHECK(argv.size() > 1);
        FUZZ_CHECK((mode == RUN_PACKAGE) == (settings.encryptKey[0] != '\0'));
        // A plain file must have a known type letter behind it.
        if (!settings.packagedInput)
            FUZZ_CHECK(settings.fileType >= TYPE_MAIN_HEX && settings.fileType <= TYPE_HTML);
        FUZZ_CHECK(!endsWith(fuzz::consoleText(), usageText));
        break;
    default:
        FUZZ_CHECK(!"unknown run mode");
    }
    return 0;
}
