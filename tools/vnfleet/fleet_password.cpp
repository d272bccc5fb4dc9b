#include "fleet_password.h"

#include <cstdio>

#include "companion_cli.h"
#include "platform/text_names.h"
#include "saved_text.h"
#include "whole_file.h"

bool passwordOfText(const std::string& text, std::string* password)
{
    // Notepad and PowerShell begin UTF-8 with a byte-order mark.
    const std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    std::string line = text.substr(start, text.find('\n', start) - start);
    if (!line.empty() && line.back() == '\r' && start + line.size() < text.size())
        line.pop_back();
    *password = line;
    return !line.empty();
}

bool readPasswordFile(const std::string& path, std::string* password)
{
    std::string text;
    bool readableByOthers = false;
    if (!readWholeFile(path, &text, &readableByOthers)) {
        companionError("VNfleet: cannot read the password file: %s\n", path.c_str());
        return false;
    }
    // A password others can read is no longer the operator's alone.
    if (readableByOthers) {
        companionError("VNfleet: other users may read the password file %s: chmod 600 it\n",
                       path.c_str());
        return false;
    }
    int line = 1;
    std::string problem;
    std::string checked = text;
    if (!takeSavedText(&checked, "the password file", &line, &problem)) {
        companionError("VNfleet: %s line %d: %s\n", path.c_str(), line, problem.c_str());
        return false;
    }
    // An empty password would be sent to every device as a wrong one.
    std::string typed;
    if (!passwordOfText(text, &typed)) {
        companionError("VNfleet: the password file is empty: %s\n", path.c_str());
        return false;
    }
    return passwordInDeviceBytes(typed, path + " line 1", password);
}

bool passwordInDeviceBytes(const std::string& typed, const std::string& where, std::string* bytes)
{
    if (platformPasswordBytes(typed, bytes))
        return true;
    companionError("VNfleet: %s: the password has a character that %s cannot hold\n",
                   where.c_str(), platformPasswordEncoding().c_str());
    return false;
}
