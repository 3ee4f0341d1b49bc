#include <windows.h>

#include <vector>

#include "common/file_security_win32.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/wide_text_win32.h"

namespace {

HANDLE handle_of(FileHandle file) { return reinterpret_cast<HANDLE>(file.handle); }

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD largest_io = 1u << 30;
// What a replaced file hands on to the new one; read-only files are never replaced.
constexpr DWORD kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Another program has the file open without sharing what this one asks for:
// a moment later it may be free.
bool is_held(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

// A rename over a file that another program has open fails with one of these,
// whatever that program's sharing.
bool is_busy(DWORD error) { return is_held(error) || error == ERROR_ACCESS_DENIED; }

bool is_missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

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

bool is_disk_file(HANDLE file) { return GetFileType(file) == FILE_TYPE_DISK; }

// Shares only reading, so that a second writer waits until this one is done.
OpenResult open_in_place(const std::wstring& target, WritingFile& writing) {
  // OPEN_EXISTING: the file is neither made nor emptied, and keeps its
  // attributes, permissions, owner and links.
  HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return is_held(GetLastError()) ? OpenResult::busy : OpenResult::refused;
  LARGE_INTEGER size{};
  if (!is_disk_file(file) || !GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    return OpenResult::refused;
  }
  writing.file.handle = reinterpret_cast<std::intptr_t>(file);
  writing.in_place = true;
  writing.old_size = static_cast<std::uint64_t>(size.QuadPart);
  writing.target = utf8_from_wide(target);
  return OpenResult::opened;
}

bool move_to(HANDLE file, std::uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != 0;
}

// Fails while another program has the file mapped into memory. Grown, the
// file has its clusters. Writing goes on from the start.
bool set_length(HANDLE file, std::uint64_t size) {
  return move_to(file, size) && SetEndOfFile(file) && move_to(file, 0);
}

void discard_file(const WritingFile& writing) {
  if (!writing.in_place) {
    FILE_DISPOSITION_INFO remove{TRUE};
    SetFileInformationByHandle(reinterpret_cast<HANDLE>(writing.file.handle), FileDispositionInfo, &remove,
                               sizeof remove);
  }
  CloseHandle(reinterpret_cast<HANDLE>(writing.file.handle));
}

// A new file beside `target`, under a temporary name, opened with the right
// to rename and delete it through its handle: a folder may give its creator
// that right through this handle alone. Where the folder lets no file be made
// there, or the new file cannot have the target's permissions, an existing
// target is written in place instead.
OpenResult create_beside(const std::wstring& target, bool replacing, DWORD kept, WritingFile& writing) {
  // The archive attribute is always set, so that a backup sees the change.
  const DWORD attributes = FILE_ATTRIBUTE_ARCHIVE | kept;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name =
        target + wide_from_ansi(temporary_file_name("", static_cast<unsigned>(GetCurrentProcessId()) + attempt));
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS) continue;
      return replacing && error == ERROR_ACCESS_DENIED ? open_in_place(target, writing) : OpenResult::refused;
    }
    writing.file.handle = reinterpret_cast<std::intptr_t>(file);
    writing.temporary_path = utf8_from_wide(name);
    writing.target = utf8_from_wide(target);
    if (replacing && !carry_security_over(target, name)) {
      discard_file(writing);
      writing = {};
      return open_in_place(target, writing);
    }
    return OpenResult::opened;
  }
  return OpenResult::refused;
}

class Win32Files final : public Files {
 public:
  // The ANSI file functions take MAX_PATH characters with the terminating NUL.
  std::size_t longest_path() const override { return MAX_PATH - 1; }

  bool open_for_reading(const std::string& path, FileHandle& file) override {
    // Shared for deletion too, so that another run may replace the file while it is read.
    HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    const std::wstring name = wide_from_ansi(path);
    // Read-only and directory are asked of the attributes, since an
    // administrator may open a read-only file for writing.
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return is_missing(GetLastError());
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return false;
    // The right a plain open for writing needs. A file that another program
    // holds is only busy: the writer waits for it.
    HANDLE file =
        CreateFileW(name.c_str(), GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return is_held(GetLastError());
    const bool disk_file = is_disk_file(file);
    CloseHandle(file);
    return disk_file;
  }

  OpenResult open_for_writing(const std::string& path, WritingFile& writing) override {
    writing = {};
    const std::wstring name = wide_from_ansi(path);
    const DWORD old_attributes = GetFileAttributesW(name.c_str());
    if (old_attributes == INVALID_FILE_ATTRIBUTES) {
      return is_missing(GetLastError()) ? create_beside(full_path(name), false, 0, writing) : OpenResult::refused;
    }
    if (old_attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return OpenResult::refused;
    // Replacing a file needs the right to delete it. Opened through a link,
    // the handle reaches the file the link leads to: that one is replaced,
    // with its own attributes, and the link stays.
    HANDLE old_file = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, share_all, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (old_file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (is_held(error)) return OpenResult::busy;
      return error == ERROR_ACCESS_DENIED ? open_in_place(name, writing) : OpenResult::refused;
    }
    std::wstring target = final_path(old_file);
    BY_HANDLE_FILE_INFORMATION old{};
    const bool disk_file = is_disk_file(old_file) && GetFileInformationByHandle(old_file, &old);
    CloseHandle(old_file);
    if (!disk_file || (old.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
      return OpenResult::refused;
    }
    if (target.empty()) {
      // A link whose file cannot be named is written through in place rather
      // than replaced by a file of its own.
      if (old_attributes & FILE_ATTRIBUTE_REPARSE_POINT) return open_in_place(name, writing);
      target = full_path(name);
    }
    return create_beside(target, true, old.dwFileAttributes & kept_attributes, writing);
  }

  bool reserve(FileHandle file, std::uint64_t size) override { return set_length(handle_of(file), size); }

  bool cut(FileHandle file, std::uint64_t size) override { return set_length(handle_of(file), size); }

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

  // A rename over the target through the new file's handle, which the file
  // system makes in one step. The handle carries the right to delete the new
  // file, which a folder may give its creator only through that handle. Not
  // ReplaceFile: where it fails without a backup file, it may leave the target
  // gone and the new file under its temporary name.
  ReplaceResult replace(const WritingFile& writing) override {
    // The full path: a relative one would be taken from the current folder.
    const std::wstring target = wide_from_utf8(writing.target);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    target.copy(rename->FileName, target.size());
    rename->FileName[target.size()] = L'\0';
    if (SetFileInformationByHandle(handle_of(writing.file), FileRenameInfo, rename,
                                   static_cast<DWORD>(buffer.size()))) {
      return ReplaceResult::done;
    }
    return is_busy(GetLastError()) ? ReplaceResult::busy : ReplaceResult::failed;
  }

  void close_written(FileHandle file) override { CloseHandle(handle_of(file)); }

  void discard(const WritingFile& writing) override { discard_file(writing); }

  void pause(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }
};

}  // namespace

Files& system_files() {
  static Win32Files files;
  return files;
}
