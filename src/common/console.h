#pragma once

#include <string_view>

// The console the program talks to: standard output and a key from the keyboard.
class Console {
 public:
  virtual ~Console() = default;
  virtual void write(std::string_view text) = 0;
  // Waits for one key press at the console itself, not standard input. Returns
  // at once when nobody can see the console, or there is none. Where standard
  // output does not reach the console, `reason` is shown there first, so that
  // the person at it sees why the program waits.
  virtual void wait_for_key(std::string_view reason) = 0;
  // Writes out what is still held back: before a key wait, and at the end of the run.
  virtual void flush() {}
};

// The process's real console.
Console& system_console();
