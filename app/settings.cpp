#include "app/settings.h"

#include <cstring>

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

void resetSettings()
{
    settings = defaultSettings();
}
