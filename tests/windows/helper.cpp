// What the tests need of a second Windows program, run under Wine beside the
// program under test:
//   hold <file> <milliseconds> <marker> [sharing]
//     holds <file> open, shared for reading, writing and deletion as a virus
//     scanner or indexer would, or as <sharing> says (FILE_SHARE_ bits);
//     creates <marker> once it does, and lets go after <milliseconds>.
//   start <how> <show> <output> <keys> <program> <argument>...
//     starts the program as Windows may start it: "console", with a console
//     window of its own, shown as <show> (STARTUPINFO's wShowWindow);
//     "no-window", without a console window, as an application may; or
//     "own-station", in a window station of its own that is never shown, as
//     Task Scheduler does for a task that runs whether its user is logged on
//     or not. Standard output and error go to the file <output>, or to the
//     console for "-". Where the program has not ended within 5 s (30 s with
//     no <keys>), presses <keys> at its console one by one ("shift", a
//     letter, or "kill" to end the program).
//     Tells what it saw, a line each: "ended <status>" when the program ended
//     by itself; else "screen <the console's first lines>", then
//     "<key> waiting" or "<key> ended <status>" after each key, and
//     "mode <input mode>" of the console once the program is gone.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
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

bool launch(char* arguments[], int count, DWORD flags, const char* desktop, WORD show, HANDLE output,
            PROCESS_INFORMATION& process) {
  std::string command_line;
  for (int i = 0; i < count; ++i) {
    if (i > 0) command_line += ' ';
    command_line += quoted(arguments[i]);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = const_cast<char*>(desktop);
  startup.dwFlags = STARTF_USESHOWWINDOW | (output != nullptr ? STARTF_USESTDHANDLES : 0);
  startup.wShowWindow = show;
  startup.hStdOutput = output;  // and standard error, as ">log 2>&1"
  startup.hStdError = output;
  return CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, output != nullptr, flags, nullptr, nullptr,
                        &startup, &process) != 0;
}

template <typename Function>
Function user32(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(LoadLibraryA("user32.dll"), name)));
}

// user32 only here: a helper that never loads it never joins the interactive
// desktop, and so never waits on the program that manages it.
const char* make_own_station() {
  auto create_station = user32<decltype(&CreateWindowStationA)>("CreateWindowStationA");
  auto get_station = user32<decltype(&GetProcessWindowStation)>("GetProcessWindowStation");
  auto set_station = user32<decltype(&SetProcessWindowStation)>("SetProcessWindowStation");
  auto create_desktop = user32<decltype(&CreateDesktopA)>("CreateDesktopA");
  if (!create_station || !get_station || !set_station || !create_desktop) return nullptr;
  HWINSTA station = create_station("quorvantis-test", 0, WINSTA_ALL_ACCESS, nullptr);
  HWINSTA own = get_station();
  if (station == nullptr || !set_station(station)) return nullptr;
  HDESK desktop = create_desktop("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  set_station(own);
  return desktop != nullptr ? "quorvantis-test\\Default" : nullptr;
}

std::string ended_or_waiting(HANDLE process, DWORD milliseconds) {
  if (WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0) return "waiting";
  DWORD status = 2;
  GetExitCodeProcess(process, &status);
  return "ended " + std::to_string(status);
}

// The first lines of the console's screen, each run of blanks as one.
std::string screen_text() {
  HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (screen == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(screen, &info)) return "";
  std::string text(static_cast<std::size_t>(info.dwSize.X) * 10, ' ');
  DWORD got = 0;
  ReadConsoleOutputCharacterA(screen, text.data(), static_cast<DWORD>(text.size()), COORD{0, 0}, &got);
  CloseHandle(screen);
  std::istringstream words(text.substr(0, got));
  std::string shown;
  for (std::string word; words >> word;) shown += (shown.empty() ? "" : " ") + word;
  return shown;
}

void press(HANDLE input, const std::string& key) {
  const bool shift = key == "shift";
  INPUT_RECORD events[2]{};
  for (int i = 0; i < 2; ++i) {
    KEY_EVENT_RECORD& event = events[i].Event.KeyEvent;
    events[i].EventType = KEY_EVENT;
    event.bKeyDown = i == 0;
    event.wRepeatCount = 1;
    event.wVirtualKeyCode = shift ? VK_SHIFT : static_cast<WORD>(std::toupper(key[0]));
    event.uChar.AsciiChar = shift ? 0 : key[0];
    event.dwControlKeyState = shift ? SHIFT_PRESSED : 0;
  }
  DWORD written = 0;
  WriteConsoleInputA(input, events, 2, &written);
}

int start_and_watch(char* arguments[], int count, const std::string& how, WORD show, const std::string& output,
                    const std::string& keys) {
  HANDLE log = nullptr;
  if (output != "-") {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    log = CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  const char* desktop = how == "own-station" ? make_own_station() : nullptr;
  PROCESS_INFORMATION process{};
  if ((how == "own-station" && desktop == nullptr) ||
      !launch(arguments, count, how == "no-window" ? CREATE_NO_WINDOW : CREATE_NEW_CONSOLE, desktop, show, log,
              process)) {
    std::printf("not started %lu\n", static_cast<unsigned long>(GetLastError()));
    return 2;
  }
  std::string seen = ended_or_waiting(process.hProcess, keys.empty() ? 30000 : 5000);
  if (seen != "waiting") {
    std::printf("%s\n", seen.c_str());
    return 0;
  }
  FreeConsole();
  for (int tries = 0; !AttachConsole(process.dwProcessId) && tries < 50; ++tries) Sleep(100);
  std::printf("screen %s\n", screen_text().c_str());
  HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  std::istringstream list(keys);
  for (std::string key; std::getline(list, key, ',');) {
    if (key == "kill") TerminateProcess(process.hProcess, 9);
    if (key != "kill") press(input, key);
    std::printf("%s %s\n", key.c_str(), ended_or_waiting(process.hProcess, 3000).c_str());
  }
  TerminateProcess(process.hProcess, 9);
  DWORD mode = 0;
  GetConsoleMode(input, &mode);
  std::printf("mode %lu\n", static_cast<unsigned long>(mode));
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Each line out at once: a helper ended by the test's time limit still tells how far it came.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "hold" && (argc == 5 || argc == 6)) {
    const DWORD sharing =
        argc == 6 ? std::strtoul(argv[5], nullptr, 10) : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return hold(argv[2], static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)), argv[4], sharing);
  }
  if (mode == "start" && argc > 6) {
    return start_and_watch(argv + 6, argc - 6, argv[2], static_cast<WORD>(std::atoi(argv[3])), argv[4], argv[5]);
  }
  return 64;
}
