#include "common/win32/look_up.h"

#include "common/win32/file_security.h"
#include "common/win32/handles.h"
#include "common/win32/wide_text.h"

namespace win32 {

namespace {

std::wstring joined(const std::wstring& folder, const std::wstring& name) {
  return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L'\\' + name;
}

bool same_path(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// Opened with no access to its contents, so that finding out what a name is
// reads, writes and locks nothing.
HANDLE open_to_judge(const std::wstring& name, DWORD flags) {
  return CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING, flags, nullptr);
}

// Held so that it can be neither renamed nor removed while held: shared for
// reading and writing but not deletion, and with the right to read it, since
// the sharing of an open for attributes alone binds nobody. Where this user
// may not read it, it is opened for attributes alone, and so not held.
HANDLE open_held(const std::wstring& name, DWORD flags) {
  HANDLE held = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES | FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, flags, nullptr);
  if (held != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) return held;
  return CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING, flags, nullptr);
}

// A link: a reparse point that names another file or folder (a symbolic
// link, a junction). Other reparse points hold the file itself, its data kept
// elsewhere by a filter (deduplication, compression by compact /exe, files of
// a cloud such as OneDrive): those are the file, and no link.
bool is_reparse_point(HANDLE file) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  return file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK &&
         GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) &&
         (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(tag.ReparseTag);
}

// The folder a path names its file in, the backslash of a drive's root kept.
std::wstring folder_of(const std::wstring& path, std::wstring& name) {
  const std::size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) return std::wstring();
  name = path.substr(slash + 1);
  std::wstring folder = path.substr(0, slash);
  if (!folder.empty() && folder.back() == L':') folder += L'\\';
  return folder;
}

// The folder that holds the link at `name`, the link opened as itself: no
// account but this user, the system, the administrators and the link's owner
// may add a name to it, so that no other account can have moved the link in.
// The folder is opened by its name and then checked to be the one the link
// lies in.
bool is_in_trusted_folder(const std::wstring& name, HANDLE link) {
  std::wstring leaf;
  const std::wstring folder_path = folder_of(full_path(name), leaf);
  if (folder_path.empty()) return false;
  HANDLE folder = open_to_judge(folder_path, FILE_FLAG_BACKUP_SEMANTICS);
  if (folder == INVALID_HANDLE_VALUE) return false;
  const std::wstring held = final_path(folder);
  const std::wstring found = folder_of(final_path(link), leaf);
  const bool trusted = !held.empty() && !found.empty() && same_path(held, found) &&
                       only_trusted_may_add(folder, link, FILE_FLAG_OPEN_REPARSE_POINT);
  CloseHandle(folder);
  return trusted;
}

}  // namespace

std::wstring full_path(const std::wstring& path) {
  const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring result(length, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), length, result.data(), nullptr);
  if (written == 0 || written >= length) return path;
  result.resize(written);
  return result;
}

// The file a handle reaches, links resolved, as "\\?\C:\..." or "\\?\UNC\...";
// empty where the file system cannot tell.
std::wstring final_path(HANDLE file) {
  std::wstring result(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(file, result.data(), static_cast<DWORD>(result.size()), 0);
    if (length < result.size()) {
      result.resize(length);
      return result;
    }
    result.resize(length);
  }
}

// The file a name reaches, through a link where it is one, and only where
// the link's owner may lead there and no other account may have put the link
// where it is. A name that is no link is opened once,
// and that handle is the file.
HANDLE open_target(const std::wstring& name, bool& is_link) {
  HANDLE link = open_to_judge(name, FILE_FLAG_OPEN_REPARSE_POINT);
  is_link = is_reparse_point(link);
  if (!is_link) return link;
  CloseHandle(link);
  // The link is held until its file is open, so that no other link can be
  // renamed to its name meanwhile. One that was changed already, or that
  // another program holds, is busy.
  link = open_held(name, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!is_reparse_point(link)) {
    const DWORD error = link == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SHARING_VIOLATION;
    if (link != INVALID_HANDLE_VALUE) CloseHandle(link);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = open_to_judge(name, 0);
  if (file != INVALID_HANDLE_VALUE && (!may_follow(link, file) || !is_in_trusted_folder(name, link))) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    SetLastError(ERROR_ACCESS_DENIED);
  }
  const DWORD error = GetLastError();
  CloseHandle(link);
  SetLastError(error);
  return file;
}

// The target's folder, held while the target is written, and the target's
// full name there, "\\?\" and all where the file system tells. `found`, the
// path the target was found at, must lie in that folder still. The folder is
// held, so that nothing else takes its path meanwhile; one that another
// program holds is busy.
OpenResult hold_folder(const std::wstring& found, bool check, WritingFile& writing) {
  std::wstring name;
  const std::wstring folder_path = folder_of(found, name);
  if (folder_path.empty() || name.empty()) return OpenResult::refused;
  HANDLE folder = open_held(folder_path, FILE_FLAG_BACKUP_SEMANTICS);
  if (folder == INVALID_HANDLE_VALUE) return failure(GetLastError());
  writing.folder = number_of(folder);
  const std::wstring held = final_path(folder);
  const std::wstring target = held.empty() ? found : joined(held, name);
  writing.target = utf8_from_wide(target);
  return !check || same_path(target, found) ? OpenResult::opened : OpenResult::refused;
}

}  // namespace win32
