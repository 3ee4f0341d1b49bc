#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include "common/files.h"
#include "common/paths.h"
#include "common/posix/attributes.h"
#include "common/posix/descriptors.h"
#include "common/posix/look_up.h"

namespace {

using namespace posix;

// A folder marked append-only lets a new file be made but neither renamed nor
// removed. One open only to find names in (mode 0300) answers no ioctl: its
// status tells instead.
bool is_append_only(int folder) {
  int flags = 0;
  if (ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0) return (flags & FS_APPEND_FL) != 0;
  struct statx status {};
  return statx(folder, "", AT_EMPTY_PATH, 0, &status) == 0 && (status.stx_attributes & STATX_ATTR_APPEND) != 0;
}

// Locked, so that two runs never write it at once; its length read only then.
OpenResult open_in_place(const Found& found, WritingFile& writing) {
  const int fd = reopen(found, O_WRONLY);
  if (fd < 0) return OpenResult::refused;
  struct stat status;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &status) != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? OpenResult::busy : OpenResult::refused;
  }
  writing.file.handle = fd;
  writing.old_size = static_cast<std::uint64_t>(status.st_size);
  return OpenResult::opened;
}

// Sixteen bits a name, not to be guessed by another account that would take
// the names first. Early at boot, before the kernel's pool is ready, the
// clock and the process stand in.
class NameNumbers {
 public:
  NameNumbers() {
    if (getrandom(numbers_, sizeof numbers_, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof numbers_)) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::uint64_t state = static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(getpid()) << 32);
    for (std::uint16_t& number : numbers_) {
      state += 0x9e3779b97f4a7c15u;  // splitmix64
      std::uint64_t mixed = (state ^ (state >> 30)) * 0xbf58476d1ce4e5b9u;
      mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111ebu;
      number = static_cast<std::uint16_t>(mixed ^ (mixed >> 31));
    }
  }
  static constexpr unsigned count = 100;
  unsigned operator[](unsigned i) const { return numbers_[i]; }

 private:
  std::uint16_t numbers_[count];
};

// The new file takes the old one's owner and group, then its access list
// and attributes, then its mode: set earlier, the mode would let the group in
// before the access list narrows it. Never set-user-ID, set-group-ID or file
// capabilities, which a list has no use for: they would hand the old file's
// powers to bytes of another account's choosing.
bool make_like_old_file(const WritingFile& writing, const struct stat& old, int new_file) {
  return fchown(new_file, old.st_uid, old.st_gid) == 0 && copy_attributes(descriptor(writing.old_file), through_descriptor(descriptor(writing.judged)), new_file) &&
         fchmod(new_file, old.st_mode & 0777) == 0;
}

// What the look-up found, from the descriptors it kept.
Found found_of(const WritingFile& writing) {
  Found found;
  found.folder = descriptor(writing.folder);
  found.file = descriptor(writing.judged);
  found.name = writing.target;
  if (found.file >= 0) fstat(found.file, &found.status);
  fstat(found.folder, &found.folder_status);
  return found;
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
    Found found;
    if (!look_up(path, true, found)) return false;
    const bool readable = found.file >= 0 && S_ISREG(found.status.st_mode) && !is_foreign_second_name(found);
    const int fd = readable ? reopen(found, O_RDONLY) : -1;
    found.release();
    file.handle = fd;
    return fd >= 0;
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

  void close_reading(FileHandle file) override { close_if_open(descriptor(file)); }

  bool rewind(FileHandle file) override { return lseek(descriptor(file), 0, SEEK_SET) == 0; }

  OpenResult look_up_for_writing(const std::string& path, WritingFile& writing) override {
    writing = {};
    Found found;
    if (!look_up(path, true, found)) return OpenResult::refused;
    writing.folder = found.folder;
    writing.judged = found.file;
    writing.target = found.name;
    writing.exists = found.file >= 0;
    if (!writing.exists) return OpenResult::opened;
    if (!may_write_file(found)) return unless_opened(OpenResult::refused, writing);
    writing.old_size = static_cast<std::uint64_t>(found.status.st_size);
    writing.old_file.handle = reopen(found, O_RDONLY);
    const bool several_names = found.status.st_nlink > 1 && !is_foreign_second_name(found);
    if (!sticky_folder_forbids_replacing(found) && !several_names) return OpenResult::opened;
    return unless_opened(in_place(found, writing), writing);
  }

  OpenResult open_for_writing(WritingFile& writing) override {
    const Found found = found_of(writing);
    if (writing.in_place) return open_in_place(found, writing);
    // A folder marked append-only would keep the new file under its temporary name.
    if (is_append_only(descriptor(writing.folder))) return writing.exists ? in_place(found, writing) : OpenResult::refused;
    const NameNumbers numbers;
    for (unsigned attempt = 0; attempt < NameNumbers::count; ++attempt) {
      std::string name = temporary_file_name(writing.target, numbers[attempt]);
      // Open to its owner alone until it is like the file it replaces.
      const int fd = openat(descriptor(writing.folder), name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW,
                            writing.exists ? 0600 : 0666);
      if (fd < 0 && errno == EEXIST) continue;
      if (fd < 0) {
        // A folder this user may not change still lets a file that this user
        // may write be written.
        const bool denied = errno == EACCES || errno == EPERM || errno == EROFS;
        return writing.exists && denied ? in_place(found, writing) : OpenResult::refused;
      }
      writing.file.handle = fd;
      writing.temporary_name = name;
      if (writing.exists && !make_like_old_file(writing, found.status, fd)) {
        // Where the new file cannot have all the old one had, the old one is
        // written in place instead.
        remove_new_file(writing);
        return in_place(found, writing);
      }
      return OpenResult::opened;
    }
    return writing.exists ? in_place(found, writing) : OpenResult::refused;
  }

  bool reserve(FileHandle file, std::uint64_t size) override {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && size > limit.rlim_cur) return false;
    struct stat before;
    if (fstat(descriptor(file), &before) != 0) return false;
    if (size <= static_cast<std::uint64_t>(before.st_size)) return true;
    if (fallocate(descriptor(file), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0) {
      // Where the file system cannot reserve, the write finds out.
      return errno != ENOSPC && errno != EDQUOT && errno != EFBIG;
    }
    // Some file systems (NFS) change the length all the same: back to where it was.
    struct stat after;
    return fstat(descriptor(file), &after) == 0 && (after.st_size == before.st_size || cut(file, before.st_size));
  }

  bool cut(FileHandle file, std::uint64_t size) override {
    int result;
    while ((result = ftruncate(descriptor(file), static_cast<off_t>(size))) != 0 && errno == EINTR) {
    }
    return result == 0;
  }

  bool write(FileHandle file, std::uint64_t offset, const char* bytes, std::size_t count) override {
    while (count > 0) {
      ssize_t written = pwrite(descriptor(file), bytes, count, static_cast<off_t>(offset));
      if (written < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      bytes += written;
      offset += static_cast<std::uint64_t>(written);
      count -= static_cast<std::size_t>(written);
    }
    return true;
  }

  bool flush_to_disk(FileHandle file) override { return fsync(descriptor(file)) == 0; }

  ReplaceResult replace(WritingFile& writing) override {
    const int folder = descriptor(writing.folder);
    if (renameat(folder, writing.temporary_name.c_str(), folder, writing.target.c_str()) != 0) {
      return ReplaceResult::failed;
    }
    writing.temporary_name.clear();
    // The new name must reach the disk too; not every file system can sync a
    // folder. One this user may not read is open only to find names in, which
    // cannot be synced: its whole file system is, through the new file.
    if (fsync(folder) != 0 && errno == EBADF) (void)syncfs(descriptor(writing.file));
    return ReplaceResult::done;
  }

  void close(const WritingFile& writing) override {
    if (!writing.temporary_name.empty()) unlinkat(descriptor(writing.folder), writing.temporary_name.c_str(), 0);
    for (std::intptr_t handle : {writing.file.handle, writing.old_file.handle, writing.judged, writing.folder}) {
      close_if_open(descriptor(handle));
    }
  }

  void pause(int milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

 private:
  // Lets go of all the look-up held, unless the file was opened.
  OpenResult unless_opened(OpenResult result, WritingFile& writing) {
    if (result == OpenResult::opened) return result;
    close(writing);
    writing = {};
    return result;
  }

  // Decided for good: a second try after a busy file goes straight here.
  OpenResult in_place(const Found& found, WritingFile& writing) {
    if (is_foreign_second_name(found)) return OpenResult::refused;
    writing.in_place = true;
    return open_in_place(found, writing);
  }

  void remove_new_file(WritingFile& writing) {
    unlinkat(descriptor(writing.folder), writing.temporary_name.c_str(), 0);
    ::close(descriptor(writing.file));
    writing.file = {};
    writing.temporary_name.clear();
  }
};

}  // namespace

Files& system_files() {
  static PosixFiles files;
  return files;
}
