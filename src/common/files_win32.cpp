#include <windows.h>

#include "common/files.h"

namespace {

HANDLE handle_of(FileHandle file) { return reinterpret_cast<HANDLE>(file.handle); }

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD largest_io = 1u << 30;

class Win32Files final : public Files {
 public:
  bool open_for_reading(const std::string& path, FileHandle& file) override {
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    // Asked of the attributes too, since an administrator may open read-only files.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
      return false;
    }
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    CloseHandle(handle);
    return true;
  }

  bool create_beside(const std::string& path, FileHandle& file, std::string& temporary_path) override {
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name =
          path + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
      HANDLE handle =
          CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
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

  bool replace(const std::string& from, const std::string& to) override {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }

  void remove(const std::string& path) override { DeleteFileA(path.c_str()); }
};

}  // namespace

Files& system_files() {
  static Win32Files files;
  return files;
}
