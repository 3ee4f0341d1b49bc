#pragma once

#include <string>

// The current folder as the platform names it, ending in its separator, so
// that a file name put after it gives that file's full name; empty when the
// platform cannot tell it.
std::string current_folder();
