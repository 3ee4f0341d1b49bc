#include <windows.h>

#include <cstdint>
#include <vector>

#include "common/files.h"
#include "common/paths.h"
#include "common/win32/file_security.h"
#include "common/win32/handles.h"
#include "common/win32/kept_by_ntfs.h"
#include "common/win32/look_up.h"
#include "common/win32/redirection_guard.h"
#include "common/win32/wide_text.h"

namespace {

using namespace win32;

constexpr DWORD largest_io = 1u << 30;
// What a replaced file hands on to the new one; read-only files are never replaced.
constexpr DWORD kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// New names tried before a file is written in place instead.
constexpr unsigned name_attempts = 100;

// A rename over a file that another program has open fails with one of these,
// whatever that program's sharing.
bool is_busy(DWORD error) { return is_held(error) || error == ERROR_ACCESS_DENIED; }

// Only a regular file on a disk, no device, pipe, console or folder.
bool is_regular_file(HANDLE file, FILE_STANDARD_INFO& standard) {
  return GetFileType(file) == FILE_TYPE_DISK &&
         GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) && !standard.Directory;
}

// Whether this user may open the file for `access`, sharing `sharing`; a file
// another program holds may be later.
DWORD may_open(HANDLE file, DWORD access, DWORD sharing = share_all) {
  HANDLE opened = reopen(file, access, sharing);
  if (opened == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(opened);
  return ERROR_SUCCESS;
}

template <typename Function>
Function function_of(HMODULE module, const char* name) {
  return module == nullptr ? nullptr
                           : reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// A DLL of the system's own folder, never one of the same name elsewhere.
HMODULE system_library(const wchar_t* name) {
  using LoadLibraryEx = HMODULE(WINAPI*)(LPCWSTR, HANDLE, DWORD);
  constexpr DWORD search_system32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  const auto load = function_of<LoadLibraryEx>(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryExW");
  // Refused where Windows 7 lacks the update that knows the flag.
  return load == nullptr ? nullptr : load(name, nullptr, search_system32);
}

// The system's random numbers: ProcessPrng (Windows 10 on), BCryptGenRandom
// (its system generator from Vista SP2 on), and RtlGenRandom only where
// neither is there or gives any, each looked up while the program runs, so
// that it imports no DLL more.
bool random_bytes(void* buffer, ULONG size) {
  using ProcessPrng = BOOL(WINAPI*)(PBYTE, SIZE_T);
  using GenRandom = LONG(WINAPI*)(void*, PUCHAR, ULONG, ULONG);
  using RtlGenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
  constexpr ULONG system_preferred = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG
  const auto process_prng = function_of<ProcessPrng>(system_library(L"bcryptprimitives.dll"), "ProcessPrng");
  if (process_prng != nullptr && process_prng(static_cast<PBYTE>(buffer), size)) return true;
  // Vista before SP2 refuses the flag that asks for the system's generator.
  const auto gen_random = function_of<GenRandom>(system_library(L"bcrypt.dll"), "BCryptGenRandom");
  if (gen_random != nullptr && gen_random(nullptr, static_cast<PUCHAR>(buffer), size, system_preferred) >= 0) {
    return true;
  }
  // With no import library of its own, from advapi32, which the program imports already.
  const auto rtl_gen_random = function_of<RtlGenRandom>(GetModuleHandleW(L"advapi32.dll"), "SystemFunction036");
  return rtl_gen_random != nullptr && rtl_gen_random(buffer, size) != 0;
}

// Sixteen bits a name from the system's random numbers, so that another
// account cannot take the names first; only where those are missing, the
// process number counted on.
class NameNumbers {
 public:
  NameNumbers() {
    if (random_bytes(numbers_, sizeof numbers_)) return;
    for (unsigned i = 0; i < name_attempts; ++i) numbers_[i] = static_cast<std::uint16_t>(GetCurrentProcessId() + i);
  }
  unsigned operator[](unsigned i) const { return numbers_[i]; }

 private:
  std::uint16_t numbers_[name_attempts];
};

// Shares only reading, so that a second writer waits until this one is done;
// the length is read only then.
OpenResult open_in_place(WritingFile& writing) {
  writing.in_place = true;
  HANDLE file = reopen(handle_of(writing.judged), write_access, FILE_SHARE_READ);
  if (file == INVALID_HANDLE_VALUE) return failure(GetLastError());
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    return OpenResult::refused;
  }
  writing.file.handle = number_of(file);
  writing.old_size = static_cast<std::uint64_t>(size.QuadPart);
  return OpenResult::opened;
}

void remove_new_file(WritingFile& writing) {
  FILE_DISPOSITION_INFO remove{TRUE};
  SetFileInformationByHandle(handle_of(writing.file), FileDispositionInfo, &remove, sizeof remove);
  CloseHandle(handle_of(writing.file));
  writing.file = {};
  writing.temporary_name.clear();
}

// The whole file, from its start, up to the most the writer rewrites in place.
bool read_whole(HANDLE file, std::string& bytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart > (64 << 20)) return false;
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  OVERLAPPED at{};
  DWORD got = 0;
  return bytes.empty() ||
         (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, &at) && got == bytes.size());
}

bool move_to(HANDLE file, std::uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != 0;
}

class Win32Files final : public Files {
 public:
  Win32Files() : guarded_(guard_against_untrusted_junctions()) {}

  std::string verbose_note() const override {
    // The guard needs Windows 10 22H2 or Windows 11.
    return guarded_ ? std::string()
                    : "no junction guard for this elevated or service run: any user's junctions are followed\n";
  }

  // The ANSI file functions take MAX_PATH characters with the terminating NUL.
  std::size_t longest_path() const override { return MAX_PATH - 1; }

  bool open_for_reading(const std::string& path, FileHandle& file) override {
    bool is_link = false;
    HANDLE judged = open_target(wide_from_ansi(path), is_link);
    if (judged == INVALID_HANDLE_VALUE) return false;
    FILE_STANDARD_INFO standard{};
    // Shared for deletion too, so that another run may replace the file while it is read.
    HANDLE handle = is_regular_file(judged, standard) ? reopen(judged, read_access, share_all) : INVALID_HANDLE_VALUE;
    CloseHandle(judged);
    file.handle = number_of(handle);
    return file.is_open();
  }

  bool read(FileHandle file, char* buffer, std::size_t capacity, std::size_t& count) override {
    DWORD got = 0;
    DWORD wanted = capacity < largest_io ? static_cast<DWORD>(capacity) : largest_io;
    if (!ReadFile(handle_of(file), buffer, wanted, &got, nullptr)) return false;
    count = got;
    return true;
  }

  void close_reading(FileHandle file) override { CloseHandle(handle_of(file)); }

  bool rewind(FileHandle file) override { return move_to(handle_of(file), 0); }

  OpenResult look_up_for_writing(const std::string& path, WritingFile& writing) override {
    writing = {};
    const std::wstring name = wide_from_ansi(path);
    bool is_link = false;
    HANDLE file = open_target(name, is_link);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // A link to nothing is not replaced by a file of its own.
      if (error != ERROR_FILE_NOT_FOUND || is_link) return failure(error);
      return ended(writing, hold_folder(full_path(name), false, writing));
    }
    writing.judged = number_of(file);
    writing.exists = true;
    // Read-only is asked of the attributes, since an administrator may open a
    // read-only file for writing.
    FILE_STANDARD_INFO standard{};
    BY_HANDLE_FILE_INFORMATION information{};
    if (!is_regular_file(file, standard) || !GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return ended(writing, OpenResult::refused);
    }
    // The rights a plain open for writing needs, and replacing it the right to
    // delete it. A file that another program holds is only busy, unless it
    // holds it without sharing its deletion alone: that file is written in place.
    DWORD error = may_open(file, write_access | DELETE);
    const bool may_replace = error == ERROR_SUCCESS;
    if (error == ERROR_ACCESS_DENIED) error = may_open(file, write_access);
    if (error == ERROR_SHARING_VIOLATION) error = may_open(file, write_access, FILE_SHARE_READ);
    if (error != ERROR_SUCCESS) return ended(writing, failure(error));
    writing.old_file.handle = number_of(reopen(file, read_access, share_all));
    writing.old_size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    const std::wstring found = final_path(file);
    // A link whose file cannot be named is written through in place rather
    // than replaced by a file of its own.
    if (found.empty() && is_link) return ended(writing, open_in_place(writing));
    const OpenResult held = hold_folder(found.empty() ? full_path(name) : found, !found.empty(), writing);
    if (held != OpenResult::opened) return ended(writing, held);
    // A file of several names is rewritten in place, so that every name gets
    // the new contents, but only where no other account may add names to its
    // folder: elsewhere, one could have given someone else's file this name
    // to have it rewritten. An encrypted file too, and one with more than its
    // bytes that a new file would lose.
    if (!may_replace || (information.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) != 0 ||
        holds_more_than_its_bytes(file) ||
        (standard.NumberOfLinks > 1 && only_trusted_may_add(handle_of(writing.folder), file))) {
      return ended(writing, open_in_place(writing));
    }
    return OpenResult::opened;
  }

  // A new file beside the target, under a temporary name no other account
  // can tell in advance, opened with the right to rename and delete it
  // through its handle: a folder may give its creator that right through
  // this handle alone. Where the folder lets no file be made there, every
  // name is taken, or the new file cannot have the target's permissions and
  // owner, an existing target is written in place instead.
  OpenResult open_for_writing(WritingFile& writing) override {
    if (writing.in_place) return open_in_place(writing);
    HANDLE judged = handle_of(writing.judged);
    BY_HANDLE_FILE_INFORMATION old{};
    if (writing.exists && !GetFileInformationByHandle(judged, &old)) return OpenResult::refused;
    // The archive attribute is always set, so that a backup sees the change.
    const DWORD attributes = FILE_ATTRIBUTE_ARCHIVE | (old.dwFileAttributes & kept_attributes);
    const std::wstring target = wide_from_utf8(writing.target);
    const NameNumbers numbers;
    for (unsigned attempt = 0; attempt < name_attempts; ++attempt) {
      const std::wstring name = target + wide_from_ansi(temporary_file_name("", numbers[attempt]));
      // Readable too, for the rare case it must be copied over the target in place.
      HANDLE file = CreateFileW(name.c_str(), write_access | read_access | DELETE, 0, nullptr, CREATE_NEW, attributes,
                                nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Not ERROR_ALREADY_EXISTS: CREATE_NEW reports a name taken so.
        if (error == ERROR_FILE_EXISTS) continue;
        return writing.exists && error == ERROR_ACCESS_DENIED ? open_in_place(writing) : OpenResult::refused;
      }
      writing.file.handle = number_of(file);
      writing.temporary_name = utf8_from_wide(name);
      if (writing.exists && (!stored_alike(judged, file) || !carry_security_over(judged, file))) {
        remove_new_file(writing);
        return open_in_place(writing);
      }
      return OpenResult::opened;
    }
    return writing.exists ? open_in_place(writing) : OpenResult::refused;
  }

  // Grows the space on the disk only: a smaller allocation would cut the
  // file, and the length stays as it is. Where the file system cannot
  // reserve (Wine answers 120, redirectors and other file systems 1 or 50),
  // the writes find out. 87 also answers a size past the file system's
  // largest file, which is never asked for: the writer asks for 64 MiB at
  // most, or for the old file's own length.
  bool reserve(FileHandle file, std::uint64_t size) override {
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(handle_of(file), FileStandardInfo, &standard, sizeof standard)) return false;
    if (size <= static_cast<std::uint64_t>(standard.AllocationSize.QuadPart)) return true;
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    if (SetFileInformationByHandle(handle_of(file), FileAllocationInfo, &allocation, sizeof allocation)) return true;
    const DWORD error = GetLastError();
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER || error == ERROR_CALL_NOT_IMPLEMENTED ||
           error == ERROR_INVALID_FUNCTION;
  }

  // Fails while another program has the file mapped into memory.
  bool cut(FileHandle file, std::uint64_t size) override {
    return move_to(handle_of(file), size) && SetEndOfFile(handle_of(file));
  }

  // At the offset given, on a handle that is not overlapped: the call returns
  // once the bytes are written.
  bool write(FileHandle file, std::uint64_t offset, const char* bytes, std::size_t count) override {
    while (count > 0) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD written = 0;
      const DWORD wanted = count < largest_io ? static_cast<DWORD>(count) : largest_io;
      if (!WriteFile(handle_of(file), bytes, wanted, &written, &at) || written == 0) return false;
      bytes += written;
      offset += written;
      count -= written;
    }
    return true;
  }

  bool flush_to_disk(FileHandle file) override { return FlushFileBuffers(handle_of(file)) != 0; }

  // A rename over the target through the new file's handle, which the file
  // system makes in one step. The handle carries the right to delete the new
  // file, which a folder may give its creator only through that handle. Not
  // ReplaceFile: where it fails without a backup file, it may leave the
  // target gone and the new file under its temporary name.
  ReplaceResult replace(WritingFile& writing) override {
    // Known again by its number, should it have to be written in place.
    const FileIdentity judged = identity_of(handle_of(writing.judged));
    // No file is renamed over while a program has it open, this one too.
    close_handle(writing.old_file.handle);
    close_handle(writing.judged);
    writing.old_file = {};
    writing.judged = -1;
    // The full path, as Windows 7 takes it: a relative one would be taken
    // from the current folder.
    const std::wstring target = wide_from_utf8(writing.target);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    target.copy(rename->FileName, target.size());
    rename->FileName[target.size()] = L'\0';
    auto renamed = [&] {
      if (SetFileInformationByHandle(handle_of(writing.file), FileRenameInfo, rename,
                                     static_cast<DWORD>(buffer.size()))) {
        writing.temporary_name.clear();
        return ReplaceResult::done;
      }
      return is_busy(GetLastError()) ? ReplaceResult::busy : ReplaceResult::failed;
    };
    ReplaceResult result = renamed();
    // A program that keeps the target open, but lets others write it (a
    // virus scanner, an indexer, a backup), is waited for here, as long as
    // the writer waits for a busy file; after that, the new bytes are
    // written over the old in place. Any other holder keeps the target from
    // this program's writes too: the writer waits, then reports it.
    if (result != ReplaceResult::busy || !writes_in_place(writing, judged, false)) return result;
    for (int pause_ms = 15; result == ReplaceResult::busy && pause_ms <= 960; pause_ms *= 2) {
      Sleep(static_cast<DWORD>(pause_ms));
      result = renamed();
    }
    if (result != ReplaceResult::busy) return result;
    return writes_in_place(writing, judged, true) ? ReplaceResult::done : ReplaceResult::failed;
  }

  void close(const WritingFile& writing) override {
    WritingFile left = writing;
    if (!left.temporary_name.empty() && left.file.is_open()) remove_new_file(left);
    for (std::intptr_t handle : {left.file.handle, left.old_file.handle, left.judged, left.folder}) {
      close_handle(handle);
    }
  }

  void pause(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }

 private:
  // Opens the target by its name, checked to be the file judged, for writing
  // in place, sharing only reading; with `write` set, also writes the new
  // file's bytes over it, as the writer rewrites a file in place: the new
  // bytes from the start, the tail cut once they are on the disk, and the old
  // ones written back on any failure, where this user may read them.
  bool writes_in_place(const WritingFile& writing, const FileIdentity& judged, bool write) {
    // Found as itself, a link at the name not followed; its bytes then
    // through a second handle that the file's own filter serves, where its
    // data lies elsewhere (deduplicated, compact /exe, a cloud's files): the
    // first handle would reach the bare reparse point.
    const std::wstring name = wide_from_utf8(writing.target);
    HANDLE found = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (found == INVALID_HANDLE_VALUE) return false;
    HANDLE target = INVALID_HANDLE_VALUE;
    bool readable = false;
    if (may_be_same_file(identity_of(found), judged)) {
      target = reopen(found, read_access | write_access, FILE_SHARE_READ);
      readable = target != INVALID_HANDLE_VALUE;
      if (!readable && GetLastError() == ERROR_ACCESS_DENIED) target = reopen(found, write_access, FILE_SHARE_READ);
    }
    CloseHandle(found);
    if (target == INVALID_HANDLE_VALUE) return false;
    const FileHandle file{number_of(target)};
    std::string old_bytes, new_bytes;
    LARGE_INTEGER old_size{};
    bool written = GetFileSizeEx(target, &old_size) != 0;
    if (written && write) {
      const bool can_restore = readable && read_whole(target, old_bytes);
      written = (can_restore || !readable) && read_whole(handle_of(writing.file), new_bytes) &&
                this->write(file, 0, new_bytes.data(), new_bytes.size()) && flush_to_disk(file) &&
                (new_bytes.size() >= static_cast<std::uint64_t>(old_size.QuadPart) ||
                 (cut(file, new_bytes.size()) && flush_to_disk(file)));
      if (!written && can_restore) {
        (void)(this->write(file, 0, old_bytes.data(), old_bytes.size()) && cut(file, old_bytes.size()) &&
               flush_to_disk(file));
      }
    }
    CloseHandle(target);
    return written;
  }

  // The look-up's end: where nothing is open for writing, nothing it holds
  // stays open either, so that a second look-up starts afresh.
  OpenResult ended(WritingFile& writing, OpenResult result) {
    if (result != OpenResult::opened) {
      close(writing);
      writing = {};
    }
    return result;
  }

  // Whether junctions that ordinary users made are kept from the run, where
  // it has the power to need that.
  const bool guarded_;
};

}  // namespace

Files& system_files() {
  static Win32Files files;
  return files;
}
