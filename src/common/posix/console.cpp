#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/console.h"
#include "common/console_output.h"
#include "common/posix/key_wait.h"

namespace {

void write_all(int file, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(file, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

void write_to_standard_output(std::string_view text) { write_all(STDOUT_FILENO, text); }

class PosixConsole final : public Console {
 public:
  PosixConsole() : output_(isatty(STDOUT_FILENO) == 1, write_to_standard_output) {
    // A reader that went away must not end the run before its files are written.
    (void)::signal(SIGPIPE, SIG_IGN);
  }

  void write(std::string_view text) override { output_.write(text); }

  void flush() override { output_.flush(); }

  void wait_for_key(std::string_view reason) override {
    // Asked before the terminal is opened, which takes the lowest free
    // descriptor: with standard output closed, that is standard output's.
    const pid_t session = getsid(0);
    const bool output_is_terminal = session > 0 && tcgetsid(STDOUT_FILENO) == session;
    // The console is the controlling terminal; a run without one, or in the
    // background, has nobody to press a key.
    int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) return;
    termios mode;
    if (tcgetattr(terminal, &mode) == 0 && tcgetpgrp(terminal) == getpgrp()) {
      if (!output_is_terminal) write_all(terminal, reason);
      read_key_in_raw_mode(terminal, mode);
    }
    close(terminal);
  }

 private:
  ConsoleOutput output_;
};

}  // namespace

Console& system_console() {
  static PosixConsole console;
  return console;
}
