#pragma once

#include <windows.h>

// Gives `new_file`, just made beside `old_file`, the old file's permissions:
// the entries set on the old file itself and its protection from the
// folder's, the inherited ones coming from the folder as for any new file
// there; and the old owner and group. False when the new file cannot have the
// same: the folder gave it an entry that the old file lacks, or not one that
// the old file denies, which would have let someone in for a moment; its
// permissions still differ once set; or this user may not give it the old
// owner; or the old file has a mandatory label of its own, which a new file
// would not take. Both files are reached through their handles alone.
bool carry_security_over(HANDLE old_file, HANDLE new_file);

// Nobody but this user, the system, the administrators and the owner of
// `owned` (a file, or a link opened as itself with `flags`) may add a name to
// `folder`, or change who may: no other account can have put a second name of
// someone else's file there, nor moved a link in.
bool only_trusted_may_add(HANDLE folder, HANDLE owned, DWORD flags = 0);

// A link, opened as itself, is followed to `file` only where its owner may
// lead there: it is this user's, the system's or the administrators', or
// its owner owns `file`.
bool may_follow(HANDLE link, HANDLE file);

// The user a process token stands for.
struct ProcessUser {
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  PSID sid() const { return reinterpret_cast<const TOKEN_USER*>(buffer)->User.Sid; }
};
bool read_process_user(HANDLE token, ProcessUser& user);
