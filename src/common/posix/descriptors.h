#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "common/files.h"

// Small helpers on the descriptors that the file look-up and the writer share.
namespace posix {

inline int descriptor(std::intptr_t handle) { return static_cast<int>(handle); }
inline int descriptor(FileHandle file) { return descriptor(file.handle); }

// The user the run acts as, asked once.
inline uid_t user() {
  static const uid_t effective = geteuid();
  return effective;
}

inline void close_if_open(int fd) {
  if (fd >= 0) ::close(fd);
}

// The open file itself, reached without looking its name up again.
inline std::string through_descriptor(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace posix
