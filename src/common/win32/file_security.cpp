#include "common/win32/file_security.h"

#include <aclapi.h>

#include <cstring>
#include <vector>

#include "common/win32/handles.h"

namespace {

// A second handle to a file, for the access a call needs; closed with the object.
class Reopened {
 public:
  // With the right to read its attributes, by which it is known to be the same file.
  Reopened(HANDLE file, DWORD access, DWORD flags = 0)
      : handle_(win32::reopen(file, access | FILE_READ_ATTRIBUTES, win32::share_all, flags)) {}
  // For `access`, and where this user may not have that, for `fewer`.
  Reopened(HANDLE file, DWORD access, DWORD fewer, bool& all) : Reopened(file, access) {
    all = is_open();
    if (!all) handle_ = Reopened(file, fewer).release();
  }
  Reopened(const Reopened&) = delete;
  Reopened& operator=(const Reopened&) = delete;
  ~Reopened() {
    if (is_open()) CloseHandle(handle_);
  }
  bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

  HANDLE handle_;
};

// A file's owner, group and permissions, read in one call and freed together.
class Security {
 public:
  Security() = default;
  Security(const Security&) = delete;
  Security& operator=(const Security&) = delete;
  ~Security() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }

  // Through a handle that may read the permissions.
  bool read(const Reopened& file) {
    constexpr SECURITY_INFORMATION wanted =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (descriptor_ != nullptr) LocalFree(descriptor_);
    descriptor_ = nullptr;
    return file.is_open() && GetSecurityInfo(file.get(), SE_FILE_OBJECT, wanted, &owner, &group, &permissions,
                                             nullptr, &descriptor_) == ERROR_SUCCESS;
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

void append_entries(PACL from, bool inherited, PACL to) {
  for (DWORD i = 0; from != nullptr && i < from->AceCount; ++i) {
    ACE_HEADER* entry = entry_of(from, i);
    if (entry != nullptr && ((entry->AceFlags & INHERITED_ACE) != 0) == inherited) {
      AddAce(to, to->AclRevision, MAXDWORD, entry, entry->AceSize);
    }
  }
}

// The entries set on the old file itself, then those the folder gave the new
// one: written back as they stand, inherited entries would become fixed
// copies that no longer follow the folder.
std::vector<unsigned char> permissions_for(PACL old_permissions, PACL inherited) {
  const DWORD size = old_permissions->AclSize + (inherited != nullptr ? inherited->AclSize : 0);
  const BYTE revision = inherited != nullptr && inherited->AclRevision > old_permissions->AclRevision
                            ? inherited->AclRevision
                            : old_permissions->AclRevision;
  std::vector<unsigned char> list(size);
  auto* result = reinterpret_cast<PACL>(list.data());
  InitializeAcl(result, size, revision);
  append_entries(old_permissions, false, result);
  append_entries(inherited, true, result);
  return list;
}

// A mandatory label set on the file itself, such as "High", which keeps
// programs of lower integrity from writing it. Read with READ_CONTROL alone;
// where it cannot be read, it is taken to be there.
bool has_own_label(const Reopened& file) {
  PACL labels = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!file.is_open() || GetSecurityInfo(file.get(), SE_FILE_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr,
                                         nullptr, &labels, &descriptor) != ERROR_SUCCESS) {
    return true;
  }
  bool own = false;
  for (DWORD i = 0; labels != nullptr && i < labels->AceCount; ++i) {
    const ACE_HEADER* entry = entry_of(labels, i);
    own = own || entry == nullptr ||
          (entry->AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE && (entry->AceFlags & INHERITED_ACE) == 0);
  }
  LocalFree(descriptor);
  return own;
}

// A descriptor may lack an owner or a group (one that a share's server or
// another file system makes up); EqualSid takes two valid SIDs.
bool same_sid(PSID a, PSID b) { return a == nullptr || b == nullptr ? a == b : EqualSid(a, b) != 0; }

// An owner that is not known is nobody trusted.
bool is_trusted(PSID sid, PSID user, PSID owner) {
  return sid != nullptr && (EqualSid(sid, user) || (owner != nullptr && EqualSid(sid, owner)) ||
                            IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid));
}

bool read_this_user(ProcessUser& user) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  const bool known = read_process_user(token, user);
  CloseHandle(token);
  return known;
}

}  // namespace

bool read_process_user(HANDLE token, ProcessUser& user) {
  DWORD size = 0;
  return GetTokenInformation(token, TokenUser, user.buffer, sizeof user.buffer, &size) != 0;
}

bool carry_security_over(HANDLE old_file, HANDLE new_file) {
  Security old_security;
  Security new_security;
  // Opened for the owner too before the permissions change, which may take
  // that right away.
  bool may_give_away = false;
  const Reopened new_permissions(new_file, READ_CONTROL | WRITE_DAC | WRITE_OWNER, READ_CONTROL | WRITE_DAC,
                                 may_give_away);
  const Reopened old_control(old_file, READ_CONTROL);
  if (!old_security.read(old_control) || !new_security.read(new_permissions)) return false;
  // A label is not carried over: the new file would take what the folder
  // gives, and a lower one than the old file's could be written by programs
  // that the old one kept out.
  if (has_own_label(old_control)) return false;
  // Where the folder gives a new file more than the old file allows, the new
  // file is not used, not even for the moment until its permissions are set:
  // another program could open it in that moment.
  if (!is_no_more_open(new_security, old_security)) return false;
  // Mostly the new file has them already, taken from the same folder.
  if (old_security.permissions != nullptr && !same_permissions(old_security, new_security)) {
    const bool is_protected = old_security.is_protected();
    std::vector<unsigned char> list =
        permissions_for(old_security.permissions, is_protected ? nullptr : new_security.permissions);
    const SECURITY_INFORMATION protection =
        is_protected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
    if (SetSecurityInfo(new_permissions.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | protection, nullptr,
                        nullptr, reinterpret_cast<PACL>(list.data()), nullptr) != ERROR_SUCCESS ||
        !new_security.read(new_permissions) || !same_permissions(old_security, new_security)) {
      return false;
    }
  }
  if (same_sid(old_security.owner, new_security.owner) && same_sid(old_security.group, new_security.group)) {
    return true;
  }
  // Where this user may not give the file away, the old file is written in place instead.
  return may_give_away && old_security.owner != nullptr && old_security.group != nullptr &&
         SetSecurityInfo(new_permissions.get(), SE_FILE_OBJECT,
                         OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, old_security.owner,
                         old_security.group, nullptr, nullptr) == ERROR_SUCCESS;
}

bool only_trusted_may_add(HANDLE folder, HANDLE owned, DWORD flags) {
  Security folder_security;
  Security file_security;
  ProcessUser user;
  if (!folder_security.read(Reopened(folder, READ_CONTROL, FILE_FLAG_BACKUP_SEMANTICS)) ||
      !file_security.read(Reopened(owned, READ_CONTROL, flags)) || !read_this_user(user)) {
    return false;
  }
  const PSID owner = file_security.owner;
  PACL permissions = folder_security.permissions;
  if (permissions == nullptr || !is_trusted(folder_security.owner, user.sid(), owner)) return false;
  // The rights that add a name to a folder, remove one, or hand them out.
  constexpr ACCESS_MASK changing = FILE_ADD_FILE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                   GENERIC_ALL | MAXIMUM_ALLOWED;
  for (DWORD i = 0; i < permissions->AceCount; ++i) {
    ACE_HEADER* entry = entry_of(permissions, i);
    // Entries for the folder's contents alone, and those that deny, let nobody add.
    if (entry != nullptr && ((entry->AceFlags & INHERIT_ONLY_ACE) != 0 || entry->AceType == ACCESS_DENIED_ACE_TYPE)) {
      continue;
    }
    // Entries of other kinds are not read, and taken as letting anyone in.
    if (entry == nullptr || entry->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & changing) != 0 && !is_trusted(&allowed->SidStart, user.sid(), owner)) return false;
  }
  return true;
}

bool may_follow(HANDLE link, HANDLE file) {
  Security link_security;
  Security file_security;
  ProcessUser user;
  return link_security.read(Reopened(link, READ_CONTROL, FILE_FLAG_OPEN_REPARSE_POINT)) &&
         file_security.read(Reopened(file, READ_CONTROL)) && read_this_user(user) &&
         is_trusted(link_security.owner, user.sid(), file_security.owner);
}
