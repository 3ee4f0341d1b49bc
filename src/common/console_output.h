#pragma once

#include <string>
#include <string_view>

// Standard output: written at once when it is a console, so that a message is
// seen before the key wait; kept until the end of the run when it is redirected.
class ConsoleOutput {
 public:
  using WriteOut = void (*)(std::string_view text);
  ConsoleOutput(bool to_console, WriteOut write_out) : to_console_(to_console), write_out_(write_out) {}

  void write(std::string_view text) {
    if (to_console_) {
      write_out_(text);
    } else {
      buffer_ += text;
    }
  }

  void flush() {
    write_out_(buffer_);
    buffer_.clear();
  }

 private:
  bool to_console_;
  WriteOut write_out_;
  std::string buffer_;
};
