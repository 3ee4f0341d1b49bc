#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "common/posix/look_up.h"
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
// files costs no stat; most file systems spare it for the pods too. A pod
// that is a link counts where the link rule lets it be followed to a file.
bool is_regular_file(int directory, const dirent64& entry) {
  if (entry.d_type == DT_REG) return true;
  if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
  struct stat status {};  // a name gone before it is asked about is no pod
  if (entry.d_type == DT_UNKNOWN &&
      (fstatat(directory, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(status.st_mode))) {
    return S_ISREG(status.st_mode);
  }
  posix::Found found;
  const bool regular = posix::look_up_from(directory, entry.d_name, found) && found.file >= 0 &&
                       S_ISREG(found.status.st_mode);
  found.release();
  return regular;
}

class PosixPodSearch final : public PodSearch {
 public:
  // The directory is listed straight from the kernel, with no stat of it:
  // its opening already says whether it is one.
  SearchResult find_pods(const std::string& directory, std::vector<std::string>& names) override {
    const int fd = posix::open_folder(directory);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? SearchResult::none : SearchResult::failed;
    const std::size_t before = names.size();
    std::vector<char> buffer(64 * 1024);
    ssize_t length;
    while ((length = getdents64(fd, buffer.data(), buffer.size())) > 0) {
      for (ssize_t at = 0; at < length;) {
        const auto& entry = *reinterpret_cast<const dirent64*>(buffer.data() + at);
        std::string name = entry.d_name;
        if (has_pod_extension(name) && is_visible_plain_name(name) && is_regular_file(fd, entry)) {
          names.push_back(std::move(name));
        }
        at += entry.d_reclen;
      }
    }
    ::close(fd);
    if (length < 0) return SearchResult::failed;
    return names.size() > before ? SearchResult::found : SearchResult::none;
  }
};

}  // namespace

PodSearch& system_pod_search() {
  static PosixPodSearch search;
  return search;
}
