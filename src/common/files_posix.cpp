#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

#include "common/files.h"
#include "common/native_path_posix.h"
#include "common/paths.h"

namespace {

int descriptor(FileHandle file) { return static_cast<int>(file.handle); }

// A symbolic link is written through, as plain writing would: the file it
// names is the one replaced, and the link stays.
std::string file_behind(const std::string& path) {
  std::string native = native_path(path);
  struct stat status;
  if (lstat(native.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return native;
  char resolved[PATH_MAX];
  return realpath(native.c_str(), resolved) != nullptr ? std::string(resolved) : native;
}

std::string directory_of(const std::string& native) {
  std::size_t slash = native.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : native.substr(0, slash);
}

// The new file takes over the mode of the one it replaces, its owner where
// this user may give the file away, and else at least its group where this
// user is a member: a folder shared by a group stays shared.
void copy_owner_and_mode(const std::string& target, int file) {
  struct stat status;
  if (stat(target.c_str(), &status) != 0) return;
  if (fchown(file, status.st_uid, status.st_gid) != 0 && fchown(file, static_cast<uid_t>(-1), status.st_gid) != 0) {
    // The file stays this user's, in this user's group; the mode still follows.
  }
  fchmod(file, status.st_mode & 07777);
}

class PosixFiles final : public Files {
 public:
  std::size_t longest_path() const override { return PATH_MAX - 1; }

  bool open_for_reading(const std::string& path, FileHandle& file) override {
    // Non-blocking, so that a FIFO without a writer cannot stall the run.
    int fd = open(native_path(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat status;
    if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
      close(fd);
      return false;
    }
    file.handle = fd;
    return true;
  }

  bool read(FileHandle file, char* buffer, std::size_t capacity, std::size_t& count) override {
    for (;;) {
      ssize_t got = ::read(descriptor(file), buffer, capacity);
      if (got >= 0) {
        count = static_cast<std::size_t>(got);
        return true;
      }
      if (errno != EINTR) return false;
    }
  }

  void close_reading(FileHandle file) override { close(descriptor(file)); }

  bool may_write(const std::string& path) override {
    // Only a regular file is replaced: a device, FIFO or socket in its place,
    // or behind a link there, stays as it is, and is not even opened.
    const std::string target = file_behind(path);
    struct stat status;
    if (stat(target.c_str(), &status) != 0) return errno == ENOENT;
    if (!S_ISREG(status.st_mode)) return false;
    int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    close(fd);
    return true;
  }

  bool create_beside(const std::string& path, FileHandle& file, std::string& temporary_path) override {
    const std::string target = file_behind(path);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
      std::string name = temporary_file_name(target, static_cast<unsigned>(getpid()) + attempt);
      int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
      if (fd >= 0) {
        copy_owner_and_mode(target, fd);
        file.handle = fd;
        temporary_path = name;
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

  bool write(FileHandle file, const char* bytes, std::size_t count) override {
    while (count > 0) {
      ssize_t written = ::write(descriptor(file), bytes, count);
      if (written < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      bytes += written;
      count -= static_cast<std::size_t>(written);
    }
    return true;
  }

  bool flush_to_disk(FileHandle file) override { return fsync(descriptor(file)) == 0; }

  bool close_written(FileHandle file) override { return close(descriptor(file)) == 0; }

  // `from` is a name made by create_beside, already native.
  ReplaceResult replace(const std::string& from, const std::string& to) override {
    const std::string target = file_behind(to);
    if (rename(from.c_str(), target.c_str()) != 0) return ReplaceResult::failed;
    // The new name must reach the disk too; not every file system can sync a directory.
    int directory = open(directory_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
      fsync(directory);
      close(directory);
    }
    return ReplaceResult::done;
  }

  void remove(const std::string& path) override { unlink(path.c_str()); }

  void pause(int milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
};

}  // namespace

Files& system_files() {
  static PosixFiles files;
  return files;
}
