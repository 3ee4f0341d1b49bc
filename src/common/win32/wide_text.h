#pragma once

#include <string>

// The program's names are bytes of the ANSI code page; the wide Windows calls
// take UTF-16. Names the program keeps for itself alone travel as UTF-8, which
// holds any of them.
std::wstring wide_from_ansi(const std::string& text);
std::wstring wide_from_utf8(const std::string& text);
std::string utf8_from_wide(const std::wstring& text);

// The text in the ANSI code page, byte for byte as the ANSI functions would
// give it; false when the code page cannot hold it. Those functions would
// give "?" or a look-alike instead, which names no file, or another one.
bool ansi_from_wide(const wchar_t* text, std::string& result);
