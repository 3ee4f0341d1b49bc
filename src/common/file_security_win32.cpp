#include "common/file_security_win32.h"

#include <aclapi.h>
#include <windows.h>

#include <cstring>
#include <vector>

namespace {

// A file's owner, group and permissions, read in one call and freed together.
class Security {
 public:
  Security() = default;
  Security(const Security&) = delete;
  Security& operator=(const Security&) = delete;
  ~Security() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }

  bool read(const std::wstring& file) {
    constexpr SECURITY_INFORMATION wanted =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    return GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, wanted, &owner, &group, &permissions, nullptr,
                                 &descriptor_) == ERROR_SUCCESS;
  }

  // Protected from the folder: the file takes no entries from it.
  bool is_protected() const {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    return GetSecurityDescriptorControl(descriptor_, &control, &revision) && (control & SE_DACL_PROTECTED) != 0;
  }

  PSID owner = nullptr;
  PSID group = nullptr;
  PACL permissions = nullptr;  // none at all lets everyone in

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

ACE_HEADER* entry_of(PACL permissions, DWORD index) {
  void* entry = nullptr;
  return GetAce(permissions, index, &entry) ? static_cast<ACE_HEADER*>(entry) : nullptr;
}

bool same_entry(const ACE_HEADER* a, const ACE_HEADER* b) {
  return a != nullptr && b != nullptr && a->AceSize == b->AceSize && std::memcmp(a, b, a->AceSize) == 0;
}

// The same entries in the same order, under the same protection.
bool same_permissions(const Security& a, const Security& b) {
  if (a.is_protected() != b.is_protected()) return false;
  if (a.permissions == nullptr || b.permissions == nullptr) return a.permissions == b.permissions;
  if (a.permissions->AceCount != b.permissions->AceCount) return false;
  for (DWORD i = 0; i < a.permissions->AceCount; ++i) {
    if (!same_entry(entry_of(a.permissions, i), entry_of(b.permissions, i))) return false;
  }
  return true;
}

bool holds_entry(PACL permissions, const ACE_HEADER* entry) {
  for (DWORD i = 0; i < permissions->AceCount; ++i) {
    if (same_entry(entry, entry_of(permissions, i))) return true;
  }
  return false;
}

// `candidate` lets nobody in whom `model` keeps out: it allows nothing that
// `model` does not, and denies all that `model` denies.
bool is_no_more_open(const Security& candidate, const Security& model) {
  if (model.permissions == nullptr) return true;
  if (candidate.permissions == nullptr) return false;
  for (DWORD i = 0; i < candidate.permissions->AceCount; ++i) {
    if (!holds_entry(model.permissions, entry_of(candidate.permissions, i))) return false;
  }
  for (DWORD i = 0; i < model.permissions->AceCount; ++i) {
    const ACE_HEADER* entry = entry_of(model.permissions, i);
    if (entry != nullptr && entry->AceType == ACCESS_DENIED_ACE_TYPE && !holds_entry(candidate.permissions, entry)) {
      return false;
    }
  }
  return true;
}

// The entries set on the file itself: written back as they stand, inherited
// ones would become fixed copies that no longer follow the folder.
std::vector<unsigned char> own_entries(PACL permissions) {
  std::vector<unsigned char> list(permissions->AclSize);
  auto* result = reinterpret_cast<PACL>(list.data());
  InitializeAcl(result, permissions->AclSize, permissions->AclRevision);
  for (DWORD i = 0; i < permissions->AceCount; ++i) {
    ACE_HEADER* entry = entry_of(permissions, i);
    if (entry != nullptr && (entry->AceFlags & INHERITED_ACE) == 0) {
      AddAce(result, permissions->AclRevision, MAXDWORD, entry, entry->AceSize);
    }
  }
  return list;
}

}  // namespace

bool carry_security_over(const std::wstring& old_file, const std::wstring& new_file) {
  Security old_security;
  Security new_security;
  if (!old_security.read(old_file) || !new_security.read(new_file)) return false;
  // Where the folder gives a new file more than the old file allows, the new
  // file is not used, not even for the moment until its permissions are set:
  // another program could open it in that moment.
  if (!is_no_more_open(new_security, old_security)) return false;
  // Mostly the new file has them already, taken from the same folder.
  if (old_security.permissions != nullptr && !same_permissions(old_security, new_security)) {
    std::vector<unsigned char> entries = own_entries(old_security.permissions);
    const SECURITY_INFORMATION protection =
        old_security.is_protected() ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
    Security result;
    if (SetNamedSecurityInfoW(const_cast<wchar_t*>(new_file.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | protection, nullptr, nullptr,
                              reinterpret_cast<PACL>(entries.data()), nullptr) != ERROR_SUCCESS ||
        !result.read(new_file) || !same_permissions(old_security, result)) {
      return false;
    }
  }
  if (!EqualSid(old_security.owner, new_security.owner) || !EqualSid(old_security.group, new_security.group)) {
    // Where this user may not give the file away, it stays this user's.
    SetNamedSecurityInfoW(const_cast<wchar_t*>(new_file.c_str()), SE_FILE_OBJECT,
                          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, old_security.owner,
                          old_security.group, nullptr, nullptr);
  }
  return true;
}
