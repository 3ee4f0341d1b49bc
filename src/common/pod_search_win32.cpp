#include <windows.h>

#include "common/paths.h"
#include "common/pod_search.h"

namespace {

constexpr DWORD never_pods = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool means_no_pods(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES;
}

class Win32PodSearch final : public PodSearch {
 public:
  SearchResult find_pods(const std::string& directory, std::vector<std::string>& names) override {
    const std::string pattern = pod_search_pattern(directory);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
      return means_no_pods(GetLastError()) ? SearchResult::none : SearchResult::failed;
    }
    const std::size_t before = names.size();
    do {
      // "*.pod" also matches a short alias such as X~1.POD of x.podcast:
      // only the name itself counts.
      std::string name = found.cFileName;
      if ((found.dwFileAttributes & never_pods) == 0 && has_pod_extension(name)) {
        names.push_back(std::move(name));
      }
    } while (FindNextFileA(search, &found));
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
