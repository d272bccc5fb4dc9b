#include "saved_text.h"

#include <algorithm>

#include "platform/utf8_text.h"

bool takeSavedText(std::string* text, const char* what, int* line, std::string* problem)
{
    const bool utf16 = text->compare(0, 2, "\xFF\xFE") == 0 || text->compare(0, 2, "\xFE\xFF") == 0 ||
                       text->find('\0') != std::string::npos;
    if (text->compare(0, 3, "\xEF\xBB\xBF") == 0)
        text->erase(0, 3);
    const std::size_t bad = utf16 ? 0 : firstNonUtf8(*text);
    if (!utf16 && bad == text->size())
        return true;
    *line = 1 + static_cast<int>(std::count(text->begin(), text->begin() + static_cast<long>(bad), '\n'));
    *problem = std::string(utf16 ? "UTF-16" : "not UTF-8") + " text: save " + what + " as UTF-8";
    return false;
}
