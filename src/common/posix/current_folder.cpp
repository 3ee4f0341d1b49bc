#include <unistd.h>

#include <cerrno>

#include "common/current_folder.h"

std::string current_folder() {
  std::string folder(256, '\0');
  while (getcwd(folder.data(), folder.size()) == nullptr) {
    if (errno != ERANGE) return "";
    folder.resize(folder.size() * 2);
  }
  folder.resize(folder.find('\0'));
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}
