#include "common/posix/look_up.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "common/posix/descriptors.h"
#include "common/posix/native_path.h"

namespace posix {

void Found::release() {
  close_if_open(file);
  close_if_open(folder);
  file = folder = -1;
}

namespace {

// Calls `ask` (a getpw/getgr *_r call) with more room while it needs more: the
// files database answers ERANGE for any line too long for the buffer, even
// one of another group (a group of thousands of members), and then gives the
// same entry again.
template <typename Ask>
int with_room(std::vector<char>& buffer, Ask ask) {
  int error;
  while ((error = ask(buffer.data(), buffer.size())) == ERANGE && buffer.size() < 64 * 1024 * 1024) {
    buffer.resize(buffer.size() * 2);
  }
  return error;
}

// True where every entry the group database lists for `group` has the name
// `name` and no member but it: a second entry of the same number (groupadd -o)
// gives its members that group as well, whatever getgrgid answers.
bool no_other_entry_of_group(gid_t group, const std::string& name, std::vector<char>& buffer) {
  bool alone = true;
  setgrent();
  for (;;) {
    struct group entry {};
    struct group* found = nullptr;
    const int error = with_room(buffer, [&](char* room, std::size_t size) { return getgrent_r(&entry, room, size, &found); });
    if (error == ENOENT || (error == 0 && found == nullptr)) break;
    if (error != 0) {
      alone = false;
      break;
    }
    if (entry.gr_gid != group) continue;
    alone = name == entry.gr_name;
    for (char** member = entry.gr_mem; alone && *member != nullptr; ++member) alone = name == *member;
    if (!alone) break;
  }
  endgrent();
  return alone;
}

// A group that no account but the folder's owner is in, as Debian's per-user
// groups with umask 002: the owner's primary group, of the owner's name, that
// lists no other member, under no second entry of its number either, and that
// no other account the account database lists has as its primary group.
// Anything the database cannot answer is no.
bool ask_whether_group_is_owners_alone(uid_t owner, gid_t group) {
  std::vector<char> buffer(64 * 1024);
  passwd account{};
  passwd* account_found = nullptr;
  if (with_room(buffer, [&](char* room, std::size_t size) { return getpwuid_r(owner, &account, room, size, &account_found); }) != 0 ||
      account_found == nullptr || account.pw_gid != group) {
    return false;
  }
  const std::string name = account.pw_name;
  struct group entry {};
  struct group* group_found = nullptr;
  if (with_room(buffer, [&](char* room, std::size_t size) { return getgrgid_r(group, &entry, room, size, &group_found); }) != 0 ||
      group_found == nullptr || name != entry.gr_name) {
    return false;
  }
  for (char** member = entry.gr_mem; *member != nullptr; ++member) {
    if (name != *member) return false;
  }
  if (!no_other_entry_of_group(group, name, buffer)) return false;
  bool alone = true;
  setpwent();
  for (;;) {
    passwd other{};
    passwd* other_found = nullptr;
    const int error = with_room(buffer, [&](char* room, std::size_t size) { return getpwent_r(&other, room, size, &other_found); });
    if (error == ENOENT || (error == 0 && other_found == nullptr)) break;
    if (error != 0 || (other.pw_gid == group && other.pw_uid != owner)) {
      alone = false;
      break;
    }
  }
  endpwent();
  return alone;
}

// Asked once a run for each owner and group.
bool group_is_owners_alone(uid_t owner, gid_t group) {
  struct Answer {
    uid_t owner;
    gid_t group;
    bool alone;
  };
  static std::vector<Answer> answers;
  for (const Answer& answer : answers) {
    if (answer.owner == owner && answer.group == group) return answer.alone;
  }
  answers.push_back({owner, group, ask_whether_group_is_owners_alone(owner, group)});
  return answers.back().alone;
}

// With an access list, the group bits of the mode are what the list lets any
// account or group it names do at most; a default list for new files alone
// lets nobody in. Where the attributes cannot be listed, a list is assumed.
bool has_access_list(int folder) {
  std::string names(64 * 1024, '\0');
  const ssize_t length = listxattr(through_descriptor(folder).c_str(), names.data(), names.size());
  if (length < 0) return errno != ENOTSUP;
  for (std::size_t begin = 0; begin < static_cast<std::size_t>(length);) {
    const std::string name = names.c_str() + begin;
    if (name.starts_with("system.") && name != "system.posix_acl_default") return true;
    begin += name.size() + 1;
  }
  return false;
}

// A symbolic link is followed only where its owner may lead there, and only
// where no other account can have put it: it is this user's, root's, or its
// owner owns what it names directly (the next link, or the file; for a link
// to nothing, the folder the file would be made in); and nobody but this
// user, root and the link's owner may change the folder that holds it. So a
// folder that others may write (/tmp, a group's folder) holds no link that
// is followed, whoever owns it.
bool may_follow(const Found& link, uid_t owner_of_named) {
  const uid_t owner = link.status.st_uid;
  return (owner == user() || owner == 0 || owner == owner_of_named) &&
         only_trusted_accounts_change_folder(link.folder, link.folder_status, owner);
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
      if (!may_follow(here, owner)) {
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

}  // namespace

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

bool look_up_from(int start, const std::string& path, Found& found) {
  return LinkWalk().look_up(start, path, true, found);
}

// In one call where no link is on the way, the common case.
int open_folder(const std::string& path) {
  const std::string native = native_path(path);
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  int fd = static_cast<int>(syscall(SYS_openat2, AT_FDCWD, native.c_str(), &how, sizeof how));
  if (fd >= 0 || (errno != ELOOP && errno != ENOSYS)) return fd;
  Found found;
  if (!LinkWalk().look_up(AT_FDCWD, native, true, found) || found.file < 0) {
    found.release();
    errno = ENOENT;
    return -1;
  }
  fd = S_ISDIR(found.status.st_mode) ? openat(found.file, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  const int error = S_ISDIR(found.status.st_mode) ? errno : ENOTDIR;
  found.release();
  errno = error;
  return fd;
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

// Neither all nor the folder's group may write it, unless that group is its
// owner's alone; and its owner is one of the three.
bool only_trusted_accounts_change_folder(int folder, const struct stat& status, uid_t trusted) {
  const uid_t owner = status.st_uid;
  if ((owner != user() && owner != 0 && owner != trusted) || (status.st_mode & S_IWOTH) != 0) return false;
  return (status.st_mode & S_IWGRP) == 0 || (!has_access_list(folder) && group_is_owners_alone(owner, status.st_gid));
}

bool sticky_folder_forbids_replacing(const Found& found) {
  return user() != 0 && found.status.st_uid != user() && (found.folder_status.st_mode & S_ISVTX) != 0 &&
         found.folder_status.st_uid != user();
}

// A file of several names is read, and rewritten in place so that every name
// gets the new contents, only where its folder is a trusted one: elsewhere,
// another account could have linked someone else's file under this name to
// have it read or rewritten. There it is replaced whole, or not written at all.
bool is_foreign_second_name(const Found& found) {
  return found.status.st_nlink > 1 &&
         !only_trusted_accounts_change_folder(found.folder, found.folder_status, found.status.st_uid);
}

}  // namespace posix
