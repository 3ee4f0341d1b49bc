#include <windows.h>

#include "common/current_folder.h"

// In the ANSI code page, as every other name the program shows.
std::string current_folder() {
  std::string folder(MAX_PATH, '\0');
  // Too small a buffer gives the length it needs, the terminating NUL counted.
  DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
  if (length >= folder.size()) {
    folder.resize(length);
    length = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
  }
  if (length == 0 || length >= folder.size()) return "";
  folder.resize(length);
  if (folder.back() != '\\') folder += '\\';
  return folder;
}
