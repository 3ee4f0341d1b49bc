#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "common/posix/native_path.h"
#include "common/pod_search.h"

namespace {

// Dot files are hidden. A name with a control character or a backslash could
// not be carried by the list file, nor be held by Windows.
bool is_visible_plain_name(const std::string& name) {
  if (name.empty() || name[0] == '.') return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 32 || c == '\\') return false;
  }
  return true;
}

// Only names that look like pods come here, so a directory full of other
// files costs no stat; most file systems spare it for the pods too.
bool is_regular_file(DIR* directory, const dirent& entry) {
  if (entry.d_type == DT_REG) return true;
  if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
  struct stat status;
  return fstatat(dirfd(directory), entry.d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
}

class PosixPodSearch final : public PodSearch {
 public:
  SearchResult find_pods(const std::string& directory, std::vector<std::string>& names) override {
    DIR* dir = opendir(native_path(directory).c_str());
    if (dir == nullptr) return errno == ENOENT || errno == ENOTDIR ? SearchResult::none : SearchResult::failed;
    const std::size_t before = names.size();
    int error = 0;
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir);
      if (entry == nullptr) {
        error = errno;
        break;
      }
      std::string name = entry->d_name;
      if (has_pod_extension(name) && is_visible_plain_name(name) && is_regular_file(dir, *entry)) {
        names.push_back(std::move(name));
      }
    }
    closedir(dir);
    if (error != 0) return SearchResult::failed;
    return names.size() > before ? SearchResult::found : SearchResult::none;
  }
};

}  // namespace

PodSearch& system_pod_search() {
  static PosixPodSearch search;
  return search;
}
