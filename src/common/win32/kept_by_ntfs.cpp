#include "common/win32/kept_by_ntfs.h"

#include <cwchar>
#include <vector>

namespace win32 {

namespace {

template <typename Function>
Function system_function(const wchar_t* module, const char* name) {
  const HMODULE loaded = GetModuleHandleW(module);
  return loaded == nullptr ? nullptr
                           : reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(loaded, name)));
}

// The volume's file system keeps named streams and extended attributes, or
// cannot say that it does not.
DWORD file_system_flags(HANDLE file) {
  using VolumeInformation = BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
  const auto volume_information =
      system_function<VolumeInformation>(L"kernel32.dll", "GetVolumeInformationByHandleW");
  DWORD flags = 0;
  if (volume_information == nullptr ||
      !volume_information(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
    return FILE_NAMED_STREAMS;
  }
  return flags;
}

// A stream beside the file's data ("::$DATA"), such as Zone.Identifier.
bool has_named_streams(HANDLE file) {
  std::vector<unsigned char> buffer(4096);
  while (!GetFileInformationByHandleEx(file, FileStreamInfo, buffer.data(), static_cast<DWORD>(buffer.size()))) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF) return false;  // no stream at all
    if (error != ERROR_MORE_DATA || buffer.size() >= (1u << 20)) return true;
    buffer.resize(buffer.size() * 2);
  }
  static constexpr wchar_t data[] = L"::$DATA";
  for (std::size_t offset = 0;;) {
    const auto* stream = reinterpret_cast<const FILE_STREAM_INFO*>(buffer.data() + offset);
    if (stream->StreamNameLength != sizeof data - sizeof(wchar_t) ||
        std::wmemcmp(stream->StreamName, data, stream->StreamNameLength / sizeof(wchar_t)) != 0) {
      return true;
    }
    if (stream->NextEntryOffset == 0) return false;
    offset += stream->NextEntryOffset;
  }
}

// The size of the file's extended attributes, from the file system itself:
// the Windows API has no call that tells it.
bool has_extended_attributes(HANDLE file) {
  struct StatusBlock {
    LONG_PTR status;
    ULONG_PTR information;
  };
  using QueryInformation = LONG(NTAPI*)(HANDLE, StatusBlock*, PVOID, ULONG, int);
  const auto query = system_function<QueryInformation>(L"ntdll.dll", "NtQueryInformationFile");
  constexpr int file_ea_information = 7;
  StatusBlock status{};
  ULONG size = 0;
  return query == nullptr || query(file, &status, &size, sizeof size, file_ea_information) < 0 || size != 0;
}

}  // namespace

bool holds_more_than_its_bytes(HANDLE file) {
  const DWORD flags = file_system_flags(file);
  return ((flags & FILE_NAMED_STREAMS) != 0 && has_named_streams(file)) || has_extended_attributes(file);
}

bool stored_alike(HANDLE old_file, HANDLE new_file) {
  FILE_BASIC_INFO old_info{}, new_info{};
  if (!GetFileInformationByHandleEx(old_file, FileBasicInfo, &old_info, sizeof old_info) ||
      !GetFileInformationByHandleEx(new_file, FileBasicInfo, &new_info, sizeof new_info)) {
    return false;
  }
  const DWORD either = old_info.FileAttributes | new_info.FileAttributes;
  if ((either & FILE_ATTRIBUTE_ENCRYPTED) != 0 ||
      ((old_info.FileAttributes ^ new_info.FileAttributes) & FILE_ATTRIBUTE_COMPRESSED) != 0) {
    return false;
  }
  // Only the creation time: zeros leave the other times and the attributes as they are.
  FILE_BASIC_INFO created{};
  created.CreationTime = old_info.CreationTime;
  return SetFileInformationByHandle(new_file, FileBasicInfo, &created, sizeof created) != 0;
}

}  // namespace win32
