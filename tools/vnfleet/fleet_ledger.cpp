#include "fleet_ledger.h"

#include <cstdio>
#include <cstring>

#include "fleet_text_file.h"

namespace {
struct Cursor {
    const std::string& text;
    std::size_t at;

    void skipSpace()
    {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r'))
            ++at;
    }
    bool take(char c)
    {
        skipSpace();
        if (at >= text.size() || text[at] != c)
            return false;
        ++at;
        return true;
    }
};

void appendUtf8(unsigned code, std::string* out)
{
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xC0 | (code >> 6));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out += static_cast<char>(0xE0 | (code >> 12));
        *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (code >> 18));
        *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool hex4(Cursor& c, unsigned* code)
{
    if (c.at + 4 > c.text.size())
        return false;
    *code = 0;
    for (int i = 0; i < 4; ++i) {
        char h = c.text[c.at++];
        unsigned digit = h >= '0' && h <= '9'   ? static_cast<unsigned>(h - '0')
                         : h >= 'a' && h <= 'f' ? static_cast<unsigned>(h - 'a' + 10)
                         : h >= 'A' && h <= 'F' ? static_cast<unsigned>(h - 'A' + 10)
                                                : 16u;
        if (digit > 15)
            return false;
        *code = *code * 16 + digit;
    }
    return true;
}

bool readString(Cursor& c, std::string* out)
{
    if (!c.take('"'))
        return false;
    out->clear();
    while (c.at < c.text.size()) {
        char ch = c.text[c.at++];
        if (ch == '"')
            return true;
        if (static_cast<unsigned char>(ch) < 0x20)
            return false;
        if (ch != '\\') {
            *out += ch;
            continue;
        }
        if (c.at >= c.text.size())
            return false;
        char e = c.text[c.at++];
        const char* plain = "\"\\/bfnrt";
        const char* meant = "\"\\/\b\f\n\r\t";
        const char* found = e != '\0' ? std::strchr(plain, e) : nullptr;
        unsigned code = 0;
        if (found) {
            *out += meant[found - plain];
        } else if (e == 'u' && hex4(c, &code)) {
            unsigned low = 0;
            if (code >= 0xD800 && code < 0xDC00 && c.text.compare(c.at, 2, "\\u") == 0) {
                c.at += 2;
                if (!hex4(c, &low) || low < 0xDC00 || low > 0xDFFF)
                    return false;
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            }
            appendUtf8(code, out);
        } else {
            return false;
        }
    }
    return false;
}

// A number, true, false or null, kept as written.
bool readLiteral(Cursor& c, std::string* out)
{
    c.skipSpace();
    std::size_t start = c.at;
    while (c.at < c.text.size() && std::strchr("0123456789+-.eEtruefalsn", c.text[c.at]))
        ++c.at;
    *out = c.text.substr(start, c.at - start);
    return !out->empty();
}
}  // namespace

bool parseLedgerLine(const std::string& text, LedgerLine* line)
{
    Cursor c{text, 0};
    line->clear();
    if (!c.take('{'))
        return false;
    if (c.take('}'))
        return true;
    do {
        std::string key;
        std::string value;
        if (!readString(c, &key) || !c.take(':'))
            return false;
        c.skipSpace();
        if (c.at < text.size() && text[c.at] == '"' ? !readString(c, &value)
                                                    : !readLiteral(c, &value))
            return false;
        (*line)[key] = value;
    } while (c.take(','));
    if (!c.take('}'))
        return false;
    c.skipSpace();
    return c.at == text.size();
}

std::string ledgerField(const LedgerLine& line, const std::string& key)
{
    auto found = line.find(key);
    return found == line.end() ? std::string() : found->second;
}

bool readLedger(const std::string& path, std::vector<LedgerLine>* lastPerAddress)
{
    std::string text;
    if (!readRegularFile(path, &text)) {
        std::fprintf(stderr, "VNfleet: cannot read the report: %s\n", path.c_str());
        return false;
    }
    std::map<std::string, std::size_t> where;
    std::size_t at = 0;
    for (int number = 1; at < text.size(); ++number) {
        std::size_t end = text.find('\n', at);
        const bool cut = end == std::string::npos;
        std::string raw = text.substr(at, cut ? std::string::npos : end - at);
        at = cut ? text.size() : end + 1;
        if (raw.empty() || raw == "\r")
            continue;
        LedgerLine line;
        if (!parseLedgerLine(raw, &line) || ledgerField(line, "address").empty() ||
            ledgerField(line, "result").empty()) {
            if (cut) {
                std::fprintf(stderr, "VNfleet: %s line %d: a half-written last line, ignored\n",
                             path.c_str(), number);
                break;
            }
            std::fprintf(stderr, "VNfleet: %s line %d: not a report line\n", path.c_str(), number);
            return false;
        }
        auto placed = where.emplace(ledgerField(line, "address"), lastPerAddress->size());
        if (placed.second)
            lastPerAddress->push_back(line);
        else
            (*lastPerAddress)[placed.first->second] = line;
    }
    return true;
}
