#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
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

std::string directory_of(const std::string& native) {
  std::size_t slash = native.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : native.substr(0, slash);
}

// A symbolic link is written through, as plain writing would: the file it
// names is the one written, and the link stays. In a sticky folder that all
// may write (/tmp), a link is followed only where it is this user's or the
// folder owner's, as the kernel's protected_symlinks rule has it, whatever
// this machine's setting: false there.
bool file_behind(const std::string& path, std::string& target) {
  target = native_path(path);
  struct stat link;
  if (lstat(target.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return true;
  struct stat folder;
  if (stat(directory_of(target).c_str(), &folder) != 0) return false;
  constexpr mode_t shared = S_ISVTX | S_IWOTH;
  if ((folder.st_mode & shared) == shared && link.st_uid != geteuid() && link.st_uid != folder.st_uid) return false;
  char resolved[PATH_MAX];
  if (realpath(target.c_str(), resolved) != nullptr) target = resolved;
  return true;
}

enum class Found { writable, missing, refused };

// The file that writing `path` reaches, and whether this user may write it.
// Only a regular file is written, and one without any write permission is
// read-only for every user, root too, as on Windows. A device, FIFO or socket
// in its place, or behind a link there, stays as it is, and is not even opened.
Found examine(const std::string& path, std::string& target, struct stat& status) {
  if (!file_behind(path, target)) return Found::refused;
  if (stat(target.c_str(), &status) != 0) return errno == ENOENT ? Found::missing : Found::refused;
  const bool writable = S_ISREG(status.st_mode) && (status.st_mode & 0222) != 0 &&
                        faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0;
  return writable ? Found::writable : Found::refused;
}

// A sticky folder lets only the file's owner, the folder's owner and root
// put another file in the file's place.
bool sticky_folder_forbids_replacing(const std::string& target, const struct stat& status) {
  const uid_t user = geteuid();
  if (status.st_uid == user || user == 0) return false;
  struct stat folder;
  return stat(directory_of(target).c_str(), &folder) != 0 || ((folder.st_mode & S_ISVTX) != 0 && folder.st_uid != user);
}

// The new file takes over the mode of the one it replaces, its owner where
// this user may give the file away, and else at least its group where this
// user is a member: a folder shared by a group stays shared.
void copy_owner_and_mode(const struct stat& status, int file) {
  if (fchown(file, status.st_uid, status.st_gid) != 0 && fchown(file, static_cast<uid_t>(-1), status.st_gid) != 0) {
    // The file stays this user's, in this user's group; the mode still follows.
  }
  fchmod(file, status.st_mode & 07777);
}

// Opened without O_CREAT, which Debian's protected_regular refuses for
// another user's file in a sticky folder; locked, so that two runs never
// write it at once.
OpenResult open_in_place(const std::string& target, WritingFile& writing) {
  int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return OpenResult::refused;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return OpenResult::refused;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? OpenResult::busy : OpenResult::refused;
  }
  writing.file.handle = fd;
  writing.in_place = true;
  writing.old_size = static_cast<std::uint64_t>(status.st_size);
  writing.target = target;
  return OpenResult::opened;
}

class PosixFiles final : public Files {
 public:
  PosixFiles() {
    // Past a file-size limit (ulimit -f), a write is to fail and be reported,
    // not to end the run.
    (void)::signal(SIGXFSZ, SIG_IGN);
  }

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
    std::string target;
    struct stat status;
    return examine(path, target, status) != Found::refused;
  }

  OpenResult open_for_writing(const std::string& path, WritingFile& writing) override {
    writing = {};
    std::string target;
    struct stat status;
    const Found found = examine(path, target, status);
    if (found == Found::refused) return OpenResult::refused;
    const bool exists = found == Found::writable;
    if (exists && sticky_folder_forbids_replacing(target, status)) return open_in_place(target, writing);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
      std::string name = temporary_file_name(target, static_cast<unsigned>(getpid()) + attempt);
      int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
      if (fd >= 0) {
        if (exists) copy_owner_and_mode(status, fd);
        writing.file.handle = fd;
        writing.temporary_path = name;
        writing.target = target;
        return OpenResult::opened;
      }
      if (errno == EEXIST) continue;
      // A folder this user may not change still lets a file that this user
      // may write be written.
      return exists && (errno == EACCES || errno == EPERM) ? open_in_place(target, writing) : OpenResult::refused;
    }
    return OpenResult::refused;
  }

  bool reserve(FileHandle file, std::uint64_t size) override {
    return posix_fallocate(descriptor(file), 0, static_cast<off_t>(size)) == 0;
  }

  bool cut(FileHandle file, std::uint64_t size) override {
    int result;
    while ((result = ftruncate(descriptor(file), static_cast<off_t>(size))) != 0 && errno == EINTR) {
    }
    return result == 0;
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

  ReplaceResult replace(const WritingFile& writing) override {
    if (rename(writing.temporary_path.c_str(), writing.target.c_str()) != 0) return ReplaceResult::failed;
    // The new name must reach the disk too; not every file system can sync a directory.
    int directory = open(directory_of(writing.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
      fsync(directory);
      close(directory);
    }
    return ReplaceResult::done;
  }

  void close_written(FileHandle file) override { close(descriptor(file)); }

  void discard(const WritingFile& writing) override {
    close(descriptor(writing.file));
    if (!writing.in_place) unlink(writing.temporary_path.c_str());
  }

  void pause(int milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
};

}  // namespace

Files& system_files() {
  static PosixFiles files;
  return files;
}
