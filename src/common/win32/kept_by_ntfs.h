#pragma once

#include <windows.h>

// What NTFS keeps with a file beyond its bytes, permissions, owner and the
// attributes the writer carries over, and what a new file in its place would
// lose. Where the old file holds any of it, the file is written in place.
namespace win32 {

// Named streams or extended attributes; true where that cannot be told.
bool holds_more_than_its_bytes(HANDLE file);

// The new file, just made beside the old one, takes the old one's creation
// time. False where it would not be stored as the old one is: compressed
// where that was not, or the other way round (the folder compresses what is
// made in it), or encrypted, or made beside an encrypted file: an encrypted
// folder encrypts a new file to this user alone, and an encrypted file's
// other users would lose it.
bool stored_alike(HANDLE old_file, HANDLE new_file);

}  // namespace win32
