#pragma once

#include <string>

namespace posix {

// Gives `new_file` the extended attributes of the old file, its access list
// among them: only those that differ are set, and those the folder gave the
// new file alone are removed; file capabilities are not taken. The old file is read through `old_file` where
// it is open for reading, else through `old_path`. False where one of them
// cannot be.
bool copy_attributes(int old_file, const std::string& old_path, int new_file);

}  // namespace posix
