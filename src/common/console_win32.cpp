#include <windows.h>

#include <string>

#include "common/console.h"

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

class Win32Console final : public Console {
 public:
  Win32Console() : output_(GetStdHandle(STD_OUTPUT_HANDLE)) {
    DWORD mode = 0;
    unbuffered_ = GetConsoleMode(output_, &mode) != 0;
  }

  void write(std::string_view text) override {
    if (unbuffered_) {
      write_out(text);
    } else {
      buffer_ += text;
    }
  }

  void flush() {
    write_out(buffer_);
    buffer_.clear();
  }

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
  void write_out(std::string_view text) {
    if (output_ == nullptr || output_ == INVALID_HANDLE_VALUE) return;
    while (!text.empty()) {
      DWORD written = 0;
      if (!WriteFile(output_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written == 0) {
        return;
      }
      text.remove_prefix(written);
    }
  }

  HANDLE output_;
  bool unbuffered_ = false;
  std::string buffer_;
};

Win32Console& the_console() {
  static Win32Console console;
  return console;
}

}  // namespace

Console& system_console() { return the_console(); }

void flush_system_console() { the_console().flush(); }
