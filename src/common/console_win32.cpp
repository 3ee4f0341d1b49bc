#include <windows.h>

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

void write_to_standard_output(std::string_view text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  while (!text.empty()) {
    DWORD written = 0;
    if (!WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

bool standard_output_is_console() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

class Win32Console final : public Console {
 public:
  Win32Console() : output_(standard_output_is_console(), write_to_standard_output) {}

  void write(std::string_view text) override { output_.write(text); }

  void flush() override { output_.flush(); }

  void wait_for_key() override {
    // The console itself, not standard input, which may be redirected.
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return;
    DWORD mode_before = 0;
    if (GetConsoleMode(input, &mode_before) && SetConsoleMode(input, 0)) {
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
