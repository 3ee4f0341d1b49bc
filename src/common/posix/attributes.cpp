#include "common/posix/attributes.h"

#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace posix {

namespace {

// The names of a file's extended attributes, access lists among them; none
// where the file system keeps none.
bool attribute_names(int fd, const std::string& path, std::vector<std::string>& names) {
  names.clear();
  std::string list(64 * 1024, '\0');
  const ssize_t length =
      fd >= 0 ? flistxattr(fd, list.data(), list.size()) : listxattr(path.c_str(), list.data(), list.size());
  if (length < 0) return errno == ENOTSUP;
  for (std::size_t begin = 0; begin < static_cast<std::size_t>(length);) {
    names.emplace_back(list.c_str() + begin);
    begin += names.back().size() + 1;
  }
  return true;
}

bool attribute_value(int fd, const std::string& path, const std::string& name, std::string& value) {
  value.assign(64 * 1024, '\0');
  const ssize_t length = fd >= 0 ? fgetxattr(fd, name.c_str(), value.data(), value.size())
                                 : getxattr(path.c_str(), name.c_str(), value.data(), value.size());
  value.resize(length < 0 ? 0 : static_cast<std::size_t>(length));
  return length >= 0;
}

}  // namespace

bool copy_attributes(int old_fd, const std::string& old_path, int new_file) {
  std::vector<std::string> old_names, new_names;
  if (!attribute_names(old_fd, old_path, old_names) || !attribute_names(new_file, "", new_names)) return false;
  // File capabilities are powers, not a property of the contents: never handed on.
  std::erase(old_names, "security.capability");
  std::string old_value, new_value;
  for (const std::string& name : old_names) {
    if (!attribute_value(old_fd, old_path, name, old_value)) return false;
    const bool same = attribute_value(new_file, "", name, new_value) && new_value == old_value;
    if (!same && fsetxattr(new_file, name.c_str(), old_value.data(), old_value.size(), 0) != 0) return false;
  }
  for (const std::string& name : new_names) {
    if (std::find(old_names.begin(), old_names.end(), name) == old_names.end() &&
        fremovexattr(new_file, name.c_str()) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace posix
