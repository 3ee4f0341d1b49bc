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

bool ansi_from_wide(const wchar_t* text, std::string& result) {
  // Under UTF-8 as the code page, every valid text converts exactly; the
  // flags for the other code pages would make the call fail.
  const bool utf8 = GetACP() == CP_UTF8;
  const UINT code_page = utf8 ? CP_UTF8 : CP_ACP;  // by name, as WC_ERR_INVALID_CHARS asks
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* inexact = utf8 ? nullptr : &used_default;
  const int length = WideCharToMultiByte(code_page, flags, text, -1, nullptr, 0, nullptr, inexact);
  if (length <= 0 || used_default) return false;
  result.assign(static_cast<std::size_t>(length), '\0');
  if (WideCharToMultiByte(code_page, flags, text, -1, result.data(), length, nullptr, inexact) != length) return false;
  result.pop_back();  // the terminating NUL
  return !used_default;
}
