#pragma once

#include <string_view>

// The console the program talks to: standard output and a key from the keyboard.
class Console {
 public:
  virtual ~Console() = default;
  virtual void write(std::string_view text) = 0;
  // Waits for one key press at the console itself, not standard input. Returns
  // at once when the process has no console.
  virtual void wait_for_key() = 0;
  // Writes out what is still held back, at the end of the run.
  virtual void flush() {}
};

// The process's real console.
Console& system_console();
