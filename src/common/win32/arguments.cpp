#include <windows.h>

#include "common/arguments.h"
#include "common/win32/wide_text.h"

// The C runtime splits the command line into arguments. It must hand "*.pod"
// and "/?" over as they were typed, not expand them into file names.
extern "C" {
int _dowildcard = 0;

// msvcrt's own splitter of the wide command line, by the same rules as the
// one that made argv.
struct StartupInformation {
  int new_mode;
};
int __cdecl __wgetmainargs(int* count, wchar_t*** arguments, wchar_t*** environment, int expand_wildcards,
                           StartupInformation* startup);
}

namespace {

// What an argument that the ANSI code page cannot hold becomes. The runtime's
// argv gives such an argument a look-alike ("Łódź" becomes the folder "Lodz")
// or "?" ("/Ł" becomes "/?"); this one is nothing the user may have meant: it
// starts with no slash and holds no digit, so it is no option and no list
// number, and "|" may stand in no Windows file name, so that as the root it
// names a folder that does not exist, and nothing is read or written.
constexpr const char* outside_code_page = "|not in the code page|";

}  // namespace

std::vector<std::string> user_arguments(int, char*[]) {
  int count = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  StartupInformation startup{0};
  if (__wgetmainargs(&count, &wide, &environment, _dowildcard, &startup) < 0 || wide == nullptr) return {};
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) {
    std::string argument;
    arguments.push_back(ansi_from_wide(wide[i], argument) ? argument : outside_code_page);
  }
  // By the runtime's rule, the backslash of a quoted "C:\My Pods\" turns its
  // closing quote into a character. No Windows path can hold that character:
  // the user typed the backslash.
  if (!arguments.empty() && !arguments.back().empty() && arguments.back().back() == '"') {
    arguments.back().back() = '\\';
  }
  return arguments;
}
