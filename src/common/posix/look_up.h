#pragma once

#include <sys/stat.h>

#include <string>

// The look-up that judges links and folders: a path is walked so that no
// other account can lead the run to a file through a link of its own.
namespace posix {

// A name looked up under the link rule: the folder that holds it, its name
// there, and the file itself where it exists. Descriptors opened with O_PATH,
// which reads and writes nothing, so that a device is never opened.
struct Found {
  int folder = -1;
  std::string name;
  int file = -1;
  struct stat status {};
  struct stat folder_status {};
  void release();
};

// False where a folder on the way is missing, a link is refused, or links
// lead round in circles. A missing last name is found as missing, in the
// folder that would hold it; `follow_last` false keeps a last link as itself.
bool look_up(const std::string& path, bool follow_last, Found& found);

// The same, from the open folder `start`, for a relative path.
bool look_up_from(int start, const std::string& path, Found& found);

// Opens a folder for listing, every link on its way judged. A folder behind a
// link that is refused is as if missing (ENOENT).
int open_folder(const std::string& path);

// Opens the file found for reading or writing, without its name.
int reopen(const Found& found, int flags);

// A regular file that this user may write.
bool may_write_file(const Found& found);

// A sticky folder lets only the file's owner, the folder's owner and root
// put another file in the file's place.
bool sticky_folder_forbids_replacing(const Found& found);

// Nobody but this user, root and `trusted` may change the folder: none of
// them can have put there a link or a second name of some other file.
bool only_trusted_accounts_change_folder(int folder, const struct stat& status, uid_t trusted);

// A file of several names in a folder that others may change: another
// account could have linked someone else's file under this name.
bool is_foreign_second_name(const Found& found);

}  // namespace posix
