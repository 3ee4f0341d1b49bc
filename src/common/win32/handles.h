#pragma once

#include <windows.h>

#include <cstdint>

#include "common/files.h"

// Small helpers on the handles that the file look-up and the writer share.
namespace win32 {

inline HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
inline HANDLE handle_of(FileHandle file) { return handle_of(file.handle); }
// INVALID_HANDLE_VALUE is -1, a FileHandle that is not open.
inline std::intptr_t number_of(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

inline void close_handle(std::intptr_t handle) {
  if (handle != -1) CloseHandle(handle_of(handle));
}

inline constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The rights that reading and writing a file's bytes take, and no more: "Read"
// and "Write" as access lists grant them (icacls (R), (W)). GENERIC_WRITE
// would also ask for READ_CONTROL, which "Write" does not grant. Both read
// the file's attributes too (its length, its number), a right that the
// look-up's own open was given already: by the file, or by the right to list
// its folder.
inline constexpr DWORD read_access = FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
inline constexpr DWORD write_access =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// Another program has the file open without sharing what this one asks for:
// a moment later it may be free.
inline bool is_held(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

inline OpenResult failure(DWORD error) { return is_held(error) ? OpenResult::busy : OpenResult::refused; }

// A file's volume and its number there; all zero where the file system
// cannot tell (it numbers no file, or the call fails).
struct FileIdentity {
  ULONGLONG volume = 0;
  unsigned char number[16] = {};
};
FileIdentity identity_of(HANDLE file);

// Whether two identities are of the same file. Where either is unknown, no
// one can tell, and the answer is yes.
bool may_be_same_file(const FileIdentity& a, const FileIdentity& b);

// A second handle to the file `judged` reaches, for `access`. Checked to be
// that file still: on a share, a reopen is a new open of the file's name on
// the server, which may meanwhile name another file. Another file fails with
// ERROR_FILE_INVALID.
HANDLE reopen(HANDLE judged, DWORD access, DWORD sharing, DWORD flags = 0);

}  // namespace win32
