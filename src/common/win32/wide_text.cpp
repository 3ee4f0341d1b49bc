#include "common/win32/wide_text.h"

#include <windows.h>

namespace {

std::wstring to_wide(const std::string& text, UINT code_page) {
  const int length = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
  return result;
}

}  // namespace

std::wstring wide_from_ansi(const std::string& text) { return to_wide(text, CP_ACP); }

std::wstring wide_from_utf8(const std::string& text) { return to_wide(text, CP_UTF8); }

std::string utf8_from_wide(const std::wstring& text) {
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr, nullptr);
  return result;
}
