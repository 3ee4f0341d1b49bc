#include "common/arguments.h"

// The C runtime splits the command line into arguments. It must hand "*.pod"
// and "/?" over as they were typed, not expand them into file names.
extern "C" {
int _dowildcard = 0;
}

std::vector<std::string> user_arguments(int argc, char* argv[]) {
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  // By the runtime's rule, the backslash of a quoted "C:\My Pods\" turns its
  // closing quote into a character. No Windows path can hold that character:
  // the user typed the backslash.
  if (!arguments.empty() && !arguments.back().empty() && arguments.back().back() == '"') {
    arguments.back().back() = '\\';
  }
  return arguments;
}
