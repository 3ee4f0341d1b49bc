#include "common/win32/handles.h"

#include <cstring>

namespace win32 {

namespace {

// FILE_ID_INFO (Windows 8 on), which the headers for older versions leave out.
constexpr auto file_id_info = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

bool is_zero(const unsigned char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

}  // namespace

FileIdentity identity_of(HANDLE file) {
  // The 128-bit number where the system has it: ReFS numbers files beyond
  // the 64 bits of the file index.
  // File systems without such numbers give 0 there; the file index may still tell.
  FileIdentity identity;
  static_assert(sizeof identity == sizeof(ULONGLONG) + sizeof(FILE_ID_128));
  if (GetFileInformationByHandleEx(file, file_id_info, &identity, sizeof identity) &&
      !is_zero(identity.number, sizeof identity.number)) {
    return identity;
  }
  identity = {};
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) return identity;
  identity.volume = information.dwVolumeSerialNumber;
  const DWORD index[] = {information.nFileIndexLow, information.nFileIndexHigh};
  std::memcpy(identity.number, index, sizeof index);
  return identity;
}

bool may_be_same_file(const FileIdentity& a, const FileIdentity& b) {
  if (is_zero(a.number, sizeof a.number) || is_zero(b.number, sizeof b.number)) return true;
  return a.volume == b.volume && std::memcmp(a.number, b.number, sizeof a.number) == 0;
}

HANDLE reopen(HANDLE judged, DWORD access, DWORD sharing, DWORD flags) {
  HANDLE file = ReOpenFile(judged, access, sharing, flags);
  if (file == INVALID_HANDLE_VALUE || may_be_same_file(identity_of(file), identity_of(judged))) return file;
  CloseHandle(file);
  SetLastError(ERROR_FILE_INVALID);
  return INVALID_HANDLE_VALUE;
}

}  // namespace win32
