// UTF-8 and the wide characters of the Windows calls, for the Windows
// backend only. Conversions are strict: text that is not UTF-8 gives an
// empty name, which no call opens, rather than a lookalike.
#pragma once

#include <string>

std::wstring wideName(const char* utf8);
std::string utf8Name(const wchar_t* wide, std::size_t length);
std::string utf8Name(const std::wstring& wide);
