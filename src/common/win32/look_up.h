#pragma once

#include <windows.h>

#include <string>

#include "common/files.h"

// The look-up that judges links, and the folder held while its file is
// written: no other account's link leads the run to a file, and nothing takes
// the folder's place meanwhile.
namespace win32 {

// The path in full, from the current folder where it is relative.
std::wstring full_path(const std::wstring& path);

// The file a handle reaches, links resolved, as "\\?\C:\..." or "\\?\UNC\...";
// empty where the file system cannot tell.
std::wstring final_path(HANDLE file);

// The file a name reaches, opened for its attributes alone: through a link
// where it is one, and only where the link's owner may lead there.
HANDLE open_target(const std::wstring& name, bool& is_link);

// The target's folder, held in `writing` while the target is written, and
// the target's full name there. `found`, the path the target was found at,
// must lie in that folder still where `check` is set. One that another
// program holds is busy.
OpenResult hold_folder(const std::wstring& found, bool check, WritingFile& writing);

}  // namespace win32
