#pragma once

#include <string>
#include <vector>

// The user's arguments, the program's own name not among them, as the
// platform's command line means them.
std::vector<std::string> user_arguments(int argc, char* argv[]);
