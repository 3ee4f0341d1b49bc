#include <windows.h>

#include <cstring>
#include <string>

#include "common/console.h"
#include "common/console_output.h"

namespace {

// A key that only changes what other keys mean does not end the wait.
bool is_modifier_alone(WORD key) {
  switch (key) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU:
    case VK_LSHIFT: case VK_RSHIFT: case VK_LCONTROL: case VK_RCONTROL: case VK_LMENU: case VK_RMENU:
    case VK_LWIN: case VK_RWIN: case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL:
      return true;
    default:
      return false;
  }
}

void write_all(HANDLE output, std::string_view text) {
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  while (!text.empty()) {
    DWORD written = 0;
    if (!WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

void write_to_standard_output(std::string_view text) { write_all(GetStdHandle(STD_OUTPUT_HANDLE), text); }

bool standard_output_is_console() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// The console screen itself, whatever standard output is.
void show_on_console(std::string_view text) {
  HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (screen == INVALID_HANDLE_VALUE) return;
  write_all(screen, text);
  CloseHandle(screen);
}

FARPROC user32_procedure(const char* name) {
  // Loaded only when a key wait is near, so that a run without errors does not
  // pay for it; always from the system folder, as a known DLL.
  static HMODULE user32 = LoadLibraryA("user32.dll");
  return user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
}

template <typename Function>
Function user32_function(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(user32_procedure(name)));
}

// A window of a pseudoconsole (Windows Terminal, other ConPTY hosts) only
// stands in for the console, "for message queue purposes only": its screen
// is the terminal's, shown or not.
bool is_pseudoconsole_window(HWND window) {
  using GetClassName = int(WINAPI*)(HWND, LPSTR, int);
  const auto get_class_name = user32_function<GetClassName>("GetClassNameA");
  char name[32] = "";
  return get_class_name != nullptr && get_class_name(window, name, sizeof name) > 0 &&
         std::strcmp(name, "PseudoConsoleWindow") == 0;
}

// Nobody can see the console, so nobody could press a key at it:
// - a program started without a console window (CREATE_NO_WINDOW) has none;
// - in session 0 (services, and Windows 7's interactive services) no user
//   works at the console;
// - a console window started hidden (SW_HIDE) cannot be seen or reached;
// - a scheduled task that runs whether or not its user is logged on lives in
//   a window station that is never shown.
bool nobody_sees_the_console() {
  const HWND window = GetConsoleWindow();
  if (window == nullptr) return true;
  DWORD session = 0;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) return true;
  using IsVisible = BOOL(WINAPI*)(HWND);
  const auto is_visible = user32_function<IsVisible>("IsWindowVisible");
  if (is_visible != nullptr && !is_visible(window) && !is_pseudoconsole_window(window)) return true;
  using GetStation = HWINSTA(WINAPI*)();
  using GetInformation = BOOL(WINAPI*)(HANDLE, int, PVOID, DWORD, LPDWORD);
  const auto get_station = user32_function<GetStation>("GetProcessWindowStation");
  const auto get_information = user32_function<GetInformation>("GetUserObjectInformationA");
  if (get_station == nullptr || get_information == nullptr) return false;
  HWINSTA station = get_station();
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  return station != nullptr && get_information(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
         (flags.dwFlags & WSF_VISIBLE) == 0;
}

class Win32Console final : public Console {
 public:
  Win32Console() : output_(standard_output_is_console(), write_to_standard_output) {}

  void write(std::string_view text) override { output_.write(text); }

  void flush() override { output_.flush(); }

  void wait_for_key(std::string_view reason) override {
    if (nobody_sees_the_console()) return;
    // The console itself, not standard input, which may be redirected.
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return;
    DWORD mode_before = 0;
    if (GetConsoleMode(input, &mode_before) && SetConsoleMode(input, 0)) {
      if (!standard_output_is_console()) show_on_console(reason);
      for (;;) {
        INPUT_RECORD event;
        DWORD count = 0;
        if (!ReadConsoleInputA(input, &event, 1, &count) || count == 0) break;
        if (event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown &&
            !is_modifier_alone(event.Event.KeyEvent.wVirtualKeyCode)) {
          break;
        }
      }
      SetConsoleMode(input, mode_before);
    }
    CloseHandle(input);
  }

 private:
  ConsoleOutput output_;
};

}  // namespace

Console& system_console() {
  static Win32Console console;
  return console;
}
