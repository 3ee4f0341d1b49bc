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
      if ((found.dwFileAttributes & never_pods) == 0 && ansi_from_wide(found.cFileName, name) &&
          has_pod_extension(name)) {
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
