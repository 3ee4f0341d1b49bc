#pragma once

#include <string>
#include <vector>

// The user's arguments, the program's own name not among them, as the
// platform's command line means them.
std::vector<std::string> user_arguments(int argc, char* argv[]);

// An option: a slash and the letter, in either case ("/u", "/U").
inline bool is_letter_option(const std::string& argument, char lower_case) {
  const char upper_case = static_cast<char>(lower_case - 'a' + 'A');
  return argument.size() == 2 && argument[0] == '/' && (argument[1] == lower_case || argument[1] == upper_case);
}
