#include <windows.h>

#include <vector>

#include "common/files.h"
#include "common/paths.h"

namespace {

HANDLE handle_of(FileHandle file) { return reinterpret_cast<HANDLE>(file.handle); }

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD largest_io = 1u << 30;
// What a replaced file hands on to the new one; read-only files are never replaced.
constexpr DWORD kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A rename over a file that another program has open fails with one of these,
// whatever that program's sharing: a moment later it may be free.
bool is_busy(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// The new file takes over the old one's permissions, and its owner and group
// where this user may set them; where it can do neither, it keeps those it
// inherits from the folder.
void copy_security(const std::string& old_file, const std::string& new_file) {
  constexpr SECURITY_INFORMATION owner_and_permissions =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  GetFileSecurityA(old_file.c_str(), owner_and_permissions, nullptr, 0, &size);
  if (size == 0) return;
  std::vector<unsigned char> descriptor(size);
  if (!GetFileSecurityA(old_file.c_str(), owner_and_permissions, descriptor.data(), size, &size)) return;
  if (!SetFileSecurityA(new_file.c_str(), owner_and_permissions, descriptor.data())) {
    SetFileSecurityA(new_file.c_str(), DACL_SECURITY_INFORMATION, descriptor.data());
  }
}

class Win32Files final : public Files {
 public:
  // The ANSI file functions take MAX_PATH characters with the terminating NUL.
  std::size_t longest_path() const override { return MAX_PATH - 1; }

  bool open_for_reading(const std::string& path, FileHandle& file) override {
    // Shared for deletion too, so that another run may replace the file while it is read.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    return true;
  }

  bool read(FileHandle file, char* buffer, std::size_t capacity, std::size_t& count) override {
    DWORD got = 0;
    DWORD wanted = capacity < largest_io ? static_cast<DWORD>(capacity) : largest_io;
    if (!ReadFile(handle_of(file), buffer, wanted, &got, nullptr)) return false;
    count = got;
    return true;
  }

  void close_reading(FileHandle file) override { CloseHandle(handle_of(file)); }

  bool may_write(const std::string& path) override {
    // Read-only and directory are asked of the attributes, since an
    // administrator may open a read-only file for writing.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return false;
    // May this user write it and put another file in its place? A file that
    // another program holds is only busy: the replacement waits for it.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, share_all, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    }
    CloseHandle(handle);
    return true;
  }

  bool create_beside(const std::string& path, FileHandle& file, std::string& temporary_path) override {
    const DWORD old_attributes = GetFileAttributesA(path.c_str());
    const bool replacing = old_attributes != INVALID_FILE_ATTRIBUTES;
    // The archive attribute is always set, so that a backup sees the change.
    const DWORD attributes = FILE_ATTRIBUTE_ARCHIVE | (replacing ? old_attributes & kept_attributes : 0);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
      std::string name = temporary_file_name(path, static_cast<unsigned>(GetCurrentProcessId()) + attempt);
      HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        if (replacing) copy_security(path, name);
        file.handle = reinterpret_cast<std::intptr_t>(handle);
        temporary_path = name;
        return true;
      }
      if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
  }

  bool write(FileHandle file, const char* bytes, std::size_t count) override {
    while (count > 0) {
      DWORD written = 0;
      DWORD wanted = count < largest_io ? static_cast<DWORD>(count) : largest_io;
      if (!WriteFile(handle_of(file), bytes, wanted, &written, nullptr) || written == 0) return false;
      bytes += written;
      count -= written;
    }
    return true;
  }

  bool flush_to_disk(FileHandle file) override { return FlushFileBuffers(handle_of(file)) != 0; }

  bool close_written(FileHandle file) override { return CloseHandle(handle_of(file)) != 0; }

  // A rename over the target, which the file system makes in one step. Not
  // ReplaceFile: where it fails without a backup file, it may leave the target
  // gone and the new file under its temporary name.
  ReplaceResult replace(const std::string& from, const std::string& to) override {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return ReplaceResult::done;
    }
    return is_busy(GetLastError()) ? ReplaceResult::busy : ReplaceResult::failed;
  }

  void remove(const std::string& path) override { DeleteFileA(path.c_str()); }

  void pause(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }
};

}  // namespace

Files& system_files() {
  static Win32Files files;
  return files;
}
