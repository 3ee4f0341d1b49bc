#include <windows.h>

#include "common/paths.h"
#include "common/pod_search.h"
#include "common/win32/wide_text.h"

namespace {

constexpr DWORD never_pods = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool means_no_pods(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES;
}

// A file where a pod folder should be, or a link that leads nowhere, is no
// folder, and so holds no pods; the search of it fails with an error of its
// own (ERROR_DIRECTORY, or ERROR_INVALID_NAME under Wine).
bool is_no_folder(const std::string& directory) {
  const DWORD attributes = GetFileAttributesW(wide_from_ansi(directory).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return means_no_pods(GetLastError());
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The name in the ANSI code page, byte for byte as the ANSI functions would
// give it; false when the code page cannot hold it. Those functions would
// give "?" or a look-alike instead, which names no file, or another one.
bool ansi_name(const wchar_t* name, std::string& result) {
  // Under UTF-8 as the code page, every valid name converts exactly; the
  // flags for the other code pages would make the call fail.
  const bool utf8 = GetACP() == CP_UTF8;
  const UINT code_page = utf8 ? CP_UTF8 : CP_ACP;  // by name, as WC_ERR_INVALID_CHARS asks
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* inexact = utf8 ? nullptr : &used_default;
  const int length = WideCharToMultiByte(code_page, flags, name, -1, nullptr, 0, nullptr, inexact);
  if (length <= 0 || used_default) return false;
  result.assign(static_cast<std::size_t>(length), '\0');
  if (WideCharToMultiByte(code_page, flags, name, -1, result.data(), length, nullptr, inexact) != length) return false;
  result.pop_back();  // the terminating NUL
  return !used_default;
}

class Win32PodSearch final : public PodSearch {
 public:
  SearchResult find_pods(const std::string& directory, std::vector<std::string>& names) override {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide_from_ansi(pod_search_pattern(directory)).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
      return means_no_pods(GetLastError()) || is_no_folder(directory) ? SearchResult::none : SearchResult::failed;
    }
    const std::size_t before = names.size();
    do {
      // "*.pod" also matches a short alias such as X~1.POD of x.podcast:
      // only the name itself counts.
      std::string name;
      if ((found.dwFileAttributes & never_pods) == 0 && ansi_name(found.cFileName, name) && has_pod_extension(name)) {
        names.push_back(std::move(name));
      }
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) return SearchResult::failed;
    return names.size() > before ? SearchResult::found : SearchResult::none;
  }
};

}  // namespace

PodSearch& system_pod_search() {
  static Win32PodSearch search;
  return search;
}
