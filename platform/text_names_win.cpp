// Windows backend of names and text: the wide command line, FindFirstFileW,
// the ANSI code page for passwords, WriteConsoleW for the console.
#include "platform/text_names.h"

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/utf8_text.h"
#include "platform/wide_names_win.h"

std::wstring wideName(const char* utf8)
{
    const std::size_t length = std::strlen(utf8);
    if (length == 0 || length > INT_MAX)
        return L"";
    const int size = static_cast<int>(length);
    int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, size, nullptr, 0);
    if (wide <= 0)
        return L"";
    std::wstring name(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, size, name.data(), wide);
    return name;
}

std::string utf8Name(const wchar_t* wide, std::size_t length)
{
    if (length == 0 || length > INT_MAX)
        return "";
    const int size = static_cast<int>(length);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return "";
    std::string name(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, size, name.data(), bytes, nullptr, nullptr);
    return name;
}

std::string utf8Name(const std::wstring& wide)
{
    return utf8Name(wide.data(), wide.size());
}

void platformUtf8Arguments(int* argc, char*** argv)
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return;  // the C runtime's arguments stay
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    texts.clear();
    for (int i = 0; i < count; ++i)
        texts.push_back(utf8Name(wide[i], std::wcslen(wide[i])));
    LocalFree(wide);
    pointers.clear();
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    *argc = count;
    *argv = pointers.data();
}

std::vector<std::string> platformExpandWildcards(const std::string& argument)
{
    if (argument.find_first_of("*?") == std::string::npos)
        return {argument};
    const std::size_t cut = argument.find_last_of("\\/:");
    const std::string folder = cut == std::string::npos ? "" : argument.substr(0, cut + 1);
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(wideName(argument.c_str()).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return {argument};
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(folder + utf8Name(name));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (names.empty())
        return {argument};
    std::sort(names.begin(), names.end());
    return names;
}

bool platformPasswordBytes(const std::string& utf8, std::string* bytes)
{
    const UINT codePage = GetACP();
    if (utf8.empty() || codePage == CP_UTF8 || firstNonUtf8(utf8) < utf8.size()) {
        *bytes = utf8;
        return firstNonUtf8(utf8) == utf8.size();
    }
    const std::wstring wide = wideName(utf8.c_str());
    BOOL lost = FALSE;
    const int size = static_cast<int>(wide.size());
    int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                     nullptr, &lost);
    if (length <= 0 || lost)
        return false;
    bytes->assign(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, bytes->data(), length,
                        nullptr, &lost);
    return !lost;
}

std::string platformPasswordEncoding()
{
    return "code page " + std::to_string(GetACP());
}

namespace {
// Text as wide characters; bytes that are not UTF-8 read in the ANSI code page.
std::wstring wideText(const char* text, std::size_t length)
{
    std::wstring wide;
    for (std::size_t at = 0; at < length;) {
        std::size_t run = 0;
        while (at + run < length) {
            const std::size_t one = utf8SequenceLength(text, length, at + run);
            if (one == 0)
                break;
            run += one;
        }
        const bool utf8 = run > 0;
        if (!utf8)
            run = 1;
        const UINT codePage = utf8 ? CP_UTF8 : CP_ACP;
        const int size = static_cast<int>(std::min<std::size_t>(run, INT_MAX / 2));
        const int got = MultiByteToWideChar(codePage, 0, text + at, size, nullptr, 0);
        if (got > 0) {
            const std::size_t end = wide.size();
            wide.resize(end + static_cast<std::size_t>(got));
            MultiByteToWideChar(codePage, 0, text + at, size, wide.data() + end, got);
        }
        at += static_cast<std::size_t>(size);
    }
    return wide;
}

// UTF-8 runs in the code page ('?' where a character has no place), other
// bytes as they are.
std::string inCodePage(const char* text, std::size_t length, UINT codePage)
{
    std::string out;
    for (std::size_t at = 0; at < length;) {
        std::size_t run = 0;
        while (at + run < length && utf8SequenceLength(text, length, at + run) > 0)
            run += utf8SequenceLength(text, length, at + run);
        if (run == 0) {
            out += text[at++];
            continue;
        }
        const std::wstring wide = wideText(text + at, run);
        const int size = static_cast<int>(wide.size());
        const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
        const char* fill = codePage == CP_UTF8 ? nullptr : "?";
        const int got = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, fill,
                                            nullptr);
        if (got > 0) {
            const std::size_t end = out.size();
            out.resize(end + static_cast<std::size_t>(got));
            WideCharToMultiByte(codePage, flags, wide.data(), size, out.data() + end, got, fill,
                                nullptr);
        }
        at += run;
    }
    return out;
}
}  // namespace

void platformWriteText(std::FILE* stream, const char* text, std::size_t length, bool document)
{
    const bool ascii = std::all_of(text, text + length,
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const DWORD which = stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    HANDLE handle = (stream == stdout || stream == stderr) ? GetStdHandle(which) : nullptr;
    DWORD mode = 0;
    if (ascii || !handle) {
        std::fwrite(text, 1, length, stream);
        return;
    }
    if (GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        const std::wstring wide = wideText(text, length);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    if (document) {
        std::fwrite(text, 1, length, stream);
        return;
    }
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0)
        codePage = GetACP();
    const std::string converted = inCodePage(text, length, codePage);
    std::fwrite(converted.data(), 1, converted.size(), stream);
}

std::FILE* platformOpenFile(const char* path, const char* mode)
{
    const std::wstring name = wideName(path);
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return name.empty() ? nullptr : _wfopen(name.c_str(), wideMode.c_str());
}
