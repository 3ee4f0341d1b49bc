#pragma once

#include <string>

// The program's names are bytes of the ANSI code page; the wide Windows calls
// take UTF-16. Names the program keeps for itself alone travel as UTF-8, which
// holds any of them.
std::wstring wide_from_ansi(const std::string& text);
std::wstring wide_from_utf8(const std::string& text);
std::string utf8_from_wide(const std::wstring& text);
