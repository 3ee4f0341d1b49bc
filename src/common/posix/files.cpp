#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>
#include <vector>

#include "common/files.h"
#include "common/posix/native_path.h"
#include "common/paths.h"

namespace {

int descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

uid_t user() {
  static const uid_t effective = geteuid();
  return effective;
}
int descriptor(FileHandle file) { return descriptor(file.handle); }

void close_if_open(int fd) {
  if (fd >= 0) ::close(fd);
}

// The open file itself, reached without looking its name up again.
std::string through_descriptor(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// A name looked up under the link rule: the folder that holds it, its name
// there, and the file itself where it exists. Descriptors opened with O_PATH,
// which reads and writes nothing, so that a device is never opened.
struct Found {
  int folder = -1;
  std::string name;
  int file = -1;
  struct stat status {};
  struct stat folder_status {};
  void release() {
    close_if_open(file);
    close_if_open(folder);
    file = folder = -1;
  }
};

// A symbolic link is followed only where its owner may lead there: it is this
// user's, root's, or its owner owns what it names directly (the next link, or
// the file; for a link to nothing, the folder the file would be made in). In
// a sticky folder that all may write (/tmp), it must also be this user's or
// the folder owner's, as the kernel's protected_symlinks rule has it, whatever
// this machine's setting.
bool may_follow(const struct stat& link, const struct stat& folder, uid_t owner_of_named) {
  constexpr mode_t shared = S_ISVTX | S_IWOTH;
  if ((folder.st_mode & shared) == shared && link.st_uid != user() && link.st_uid != folder.st_uid) return false;
  return link.st_uid == user() || link.st_uid == 0 || link.st_uid == owner_of_named;
}

bool read_link(int link, std::string& text) {
  text.assign(PATH_MAX, '\0');
  const ssize_t length = readlinkat(link, "", text.data(), text.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) return false;
  text.resize(static_cast<std::size_t>(length));
  return true;
}

int open_path(int folder, const char* name, int flags = 0) {
  return openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC | flags);
}

// Looks a path up one name at a time, judging every link it meets.
class LinkWalk {
 public:
  // False where a name on the way is missing, a link is refused, or links
  // lead round in circles. A missing last name is found as missing, in the
  // folder that would hold it.
  bool look_up(int start, const std::string& path, bool follow_last, Found& found) {
    std::vector<std::string> names;
    for (std::size_t begin = 0; begin <= path.size();) {
      std::size_t end = std::min(path.find('/', begin), path.size());
      std::string name = path.substr(begin, end - begin);
      if (!name.empty() && name != ".") names.push_back(name);
      begin = end + 1;
    }
    if (names.empty()) return false;
    int folder = path[0] == '/' ? open_path(AT_FDCWD, "/") : open_path(start, ".");
    for (std::size_t i = 0; folder >= 0 && i < names.size(); ++i) {
      const bool last = i + 1 == names.size();
      Found here;
      here.folder = folder;
      here.name = names[i];
      here.file = open_path(folder, names[i].c_str());
      const bool missing = here.file < 0 && errno == ENOENT;
      if ((here.file < 0 && !(last && missing)) || fstat(folder, &here.folder_status) != 0 ||
          (here.file >= 0 && fstat(here.file, &here.status) != 0) || ((!last || follow_last) && !follow_links(here))) {
        here.release();
        return false;
      }
      if (last) {
        found = here;
        return true;
      }
      close_if_open(here.folder);
      folder = here.file;
      if (folder < 0 || !S_ISDIR(here.status.st_mode)) break;
    }
    close_if_open(folder);
    return false;
  }

 private:
  // Replaces a link by what it names, again and again, while that is a link.
  bool follow_links(Found& here) {
    while (here.file >= 0 && S_ISLNK(here.status.st_mode)) {
      std::string text;
      Found named;
      if (--links_left_ < 0 || !read_link(here.file, text) || !look_up(here.folder, text, false, named)) return false;
      const uid_t owner = named.file >= 0 ? named.status.st_uid : named.folder_status.st_uid;
      if (!may_follow(here.status, here.folder_status, owner)) {
        named.release();
        return false;
      }
      here.release();
      here = named;
    }
    return true;
  }

  int links_left_ = 40;  // as the kernel's own limit
};

// The common case, in one call for the folder: no link on the way at all.
// Anything else takes the walk.
bool look_up(const std::string& path, bool follow_last, Found& found) {
  const std::string native = native_path(path);
  const std::size_t slash = native.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
  found.name = native.substr(slash == std::string::npos ? 0 : slash + 1);
  // Readable where it may be, to ask its flags and sync it.
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  found.folder = static_cast<int>(syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how));
  if (found.folder < 0 && errno == EACCES) {
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    found.folder = static_cast<int>(syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how));
  }
  if (found.folder >= 0 && !found.name.empty() && found.name != "." && found.name != ".." &&
      fstat(found.folder, &found.folder_status) == 0) {
    found.file = open_path(found.folder, found.name.c_str());
    if ((found.file < 0 && errno == ENOENT) ||
        (found.file >= 0 && fstat(found.file, &found.status) == 0 && !S_ISLNK(found.status.st_mode))) {
      return true;
    }
  }
  found.release();
  if (!LinkWalk().look_up(AT_FDCWD, native, follow_last, found)) return false;
  const int readable = openat(found.folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (readable >= 0) {
    ::close(found.folder);
    found.folder = readable;
  }
  return true;
}

// Opens the file found for reading or writing. Where /proc is missing, by its
// name in its folder once more, taken only where it is still the same file.
int reopen(const Found& found, int flags) {
  int fd = open(through_descriptor(found.file).c_str(), flags | O_CLOEXEC | O_NOCTTY);
  if (fd >= 0 || errno != ENOENT) return fd;
  fd = openat(found.folder, found.name.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
  struct stat now;
  if (fd >= 0 && (fstat(fd, &now) != 0 || now.st_dev != found.status.st_dev || now.st_ino != found.status.st_ino)) {
    ::close(fd);
    errno = ESTALE;
    return -1;
  }
  return fd;
}

bool may_write_file(const Found& found) {
  if (!S_ISREG(found.status.st_mode) || (found.status.st_mode & 0222) == 0) return false;
  // Asked of the file itself; without /proc, of its name, which the open then checks again.
  const int asked = faccessat(AT_FDCWD, through_descriptor(found.file).c_str(), W_OK, AT_EACCESS);
  if (asked == 0 || errno != ENOENT) return asked == 0;
  return faccessat(found.folder, found.name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
}

// A sticky folder lets only the file's owner, the folder's owner and root
// put another file in the file's place.
bool sticky_folder_forbids_replacing(const Found& found) {
  return user() != 0 && found.status.st_uid != user() && (found.folder_status.st_mode & S_ISVTX) != 0 &&
         found.folder_status.st_uid != user();
}

// Nobody but this user, root and the file's owner may change the file's
// folder, so nobody else can have put a second name of some other file there.
bool only_trusted_accounts_change_folder(const Found& found) {
  const uid_t owner = found.folder_status.st_uid;
  return (found.folder_status.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
         (owner == user() || owner == 0 || owner == found.status.st_uid);
}

// A file of several names is read, and rewritten in place so that every name
// gets the new contents, only where its folder is a trusted one: elsewhere,
// another account could have linked someone else's file under this name to
// have it read or rewritten. There it is replaced whole, or not written at all.
bool is_foreign_second_name(const Found& found) {
  return found.status.st_nlink > 1 && !only_trusted_accounts_change_folder(found);
}

// A folder marked append-only lets a new file be made but neither renamed nor removed.
bool is_append_only(int folder) {
  int flags = 0;
  return ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
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

// Gives the new file the old one's access list and extended attributes:
// only those that differ are set, and those the folder gave the new file
// alone are removed. False where one of them cannot be.
bool copy_attributes(const WritingFile& writing, int new_file) {
  const int old_fd = descriptor(writing.old_file);
  const std::string old_path = through_descriptor(descriptor(writing.judged));
  std::vector<std::string> old_names, new_names;
  if (!attribute_names(old_fd, old_path, old_names) || !attribute_names(new_file, "", new_names)) return false;
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

// The new file takes the old one's owner and group, then its access list
// and attributes, then its mode: set earlier, the mode would let the group in
// before the access list narrows it.
bool make_like_old_file(const WritingFile& writing, const struct stat& old, int new_file) {
  return fchown(new_file, old.st_uid, old.st_gid) == 0 && copy_attributes(writing, new_file) &&
         fchmod(new_file, old.st_mode & 07777) == 0;
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
    // The new name must reach the disk too; not every file system can sync a folder.
    (void)fsync(folder);
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
