#pragma once

#include <string>

// Gives `new_file`, just made beside `old_file`, the old file's permissions:
// the entries set on the old file itself and its protection from the
// folder's, the inherited ones coming from the folder as for any new file
// there; and the old owner and group where this user may set them. False
// when the new file cannot have the same permissions: the folder gave it an
// entry that the old file lacks, or not one that the old file denies, which
// would have let someone in for a moment; or its permissions still differ
// once set.
bool carry_security_over(const std::wstring& old_file, const std::wstring& new_file);
