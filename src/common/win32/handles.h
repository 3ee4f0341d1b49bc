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

// Another program has the file open without sharing what this one asks for:
// a moment later it may be free.
inline bool is_held(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }


inline OpenResult failure(DWORD error) { return is_held(error) ? OpenResult::busy : OpenResult::refused; }

}  // namespace win32
