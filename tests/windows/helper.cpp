// What the tests need of a second Windows program, run under Wine beside the
// program under test:
//   hold <file> <milliseconds> <marker> [read-only]
//     holds <file> open, shared for reading, writing and deletion as a virus
//     scanner or indexer would, or for reading alone; creates <marker> once it
//     does, and lets go after <milliseconds>.
//   no-window <program> <argument>...
//     starts the program as an application may, without a console window.
//   own-station <program> <argument>...
//     starts it in a window station of its own that is never shown, as Task
//     Scheduler does for a task that runs whether its user is logged on or not.
// Both end with the program's exit status, once it ends.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int hold(const char* path, DWORD milliseconds, const char* marker, DWORD sharing) {
  HANDLE file = CreateFileA(path, GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  HANDLE held = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 2;
  CloseHandle(held);
  Sleep(milliseconds);
  CloseHandle(file);
  return 0;
}

// One argument of a command line, quoted the way the C runtime splits it again.
std::string quoted(const std::string& argument) {
  std::string result = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    result.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    result += c;
  }
  return result.append(backslashes * 2, '\\') + "\"";
}

int start(char* arguments[], int count, DWORD flags, const char* desktop) {
  std::string command_line;
  for (int i = 0; i < count; ++i) {
    if (i > 0) command_line += ' ';
    command_line += quoted(arguments[i]);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = const_cast<char*>(desktop);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                      &process)) {
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 2;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

int start_in_own_station(char* arguments[], int count) {
  HWINSTA station = CreateWindowStationA("quorvantis-test", 0, WINSTA_ALL_ACCESS, nullptr);
  if (station == nullptr) return 2;
  HWINSTA own = GetProcessWindowStation();
  if (!SetProcessWindowStation(station)) return 2;
  HDESK desktop = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(own);
  if (desktop == nullptr) return 2;
  return start(arguments, count, 0, "quorvantis-test\\Default");
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "hold" && (argc == 5 || argc == 6)) {
    const DWORD sharing = argc == 6 ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return hold(argv[2], static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)), argv[4], sharing);
  }
  if (mode == "no-window" && argc > 2) return start(argv + 2, argc - 2, CREATE_NO_WINDOW, nullptr);
  if (mode == "own-station" && argc > 2) return start_in_own_station(argv + 2, argc - 2);
  return 64;
}
