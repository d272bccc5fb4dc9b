#include "app/settings.h"

#include <cstring>

#include "platform/utf8_text.h"

namespace {
SettingsRecord defaultSettings()
{
    SettingsRecord s{};
    std::strcpy(s.targetIp, "192.168.1.100");
    s.debugPort = DEBUG_PORT;
    s.updatePort = UPDATE_PORT;
    s.packagedInput = 1;
    s.partialEncrypt = 1;
    return s;
}
}  // namespace

SettingsRecord settings = defaultSettings();

void setFileName(const char* name)
{
    const std::size_t size = std::strlen(name);
    std::size_t at = 0;
    for (unsigned characters = 0; at < size && characters < TEXT_FIELD_SIZE; ++characters) {
        const std::size_t length = utf8SequenceLength(name, size, at);
        at += length == 0 ? 1 : length;
    }
    std::memset(settings.fileName, 0, sizeof settings.fileName);
    std::memcpy(settings.fileName, name, at);
}

void resetSettings()
{
    settings = defaultSettings();
}
