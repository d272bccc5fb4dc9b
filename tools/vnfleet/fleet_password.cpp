#include "fleet_password.h"

#include <cstdio>

#include "companion_cli.h"
#include "platform/text_names.h"
#include "saved_text.h"
#include "whole_file.h"

std::string firstLineOf(const std::string& text)
{
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r' && line.size() < text.size())
        line.pop_back();
    return line;
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
    if (!takeSavedText(&text, "the password file", &line, &problem)) {
        companionError("VNfleet: %s line %d: %s\n", path.c_str(), line, problem.c_str());
        return false;
    }
    return passwordInDeviceBytes(firstLineOf(text), path + " line 1", password);
}

bool passwordInDeviceBytes(const std::string& typed, const std::string& where, std::string* bytes)
{
    if (platformPasswordBytes(typed, bytes))
        return true;
    companionError("VNfleet: %s: the password has a character that %s cannot hold\n",
                     where.c_str(), platformPasswordEncoding().c_str());
    return false;
}
