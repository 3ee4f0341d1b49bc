#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/console.h"
#include "common/console_output.h"

namespace {

// Bytes of one key that a terminal sends together arrive well within this.
constexpr int rest_of_key_ms = 100;
constexpr unsigned char escape = 0x1b;

// The terminal's mode while a key is awaited, for the signal handler to restore.
int waiting_terminal = -1;
termios terminal_mode_before;
constexpr int fatal_signals[] = {SIGHUP, SIGTERM, SIGQUIT, SIGINT};
struct sigaction handlers_before[sizeof fatal_signals / sizeof fatal_signals[0]];

extern "C" void restore_terminal_and_die(int signal_number) {
  // Nothing is left to do should any of these fail: the process is ending.
  if (waiting_terminal >= 0) tcsetattr(waiting_terminal, TCSANOW, &terminal_mode_before);
  (void)::signal(signal_number, SIG_DFL);
  (void)raise(signal_number);
}

void catch_fatal_signals() {
  struct sigaction restore {};
  restore.sa_handler = restore_terminal_and_die;
  sigemptyset(&restore.sa_mask);
  for (std::size_t i = 0; i < sizeof fatal_signals / sizeof fatal_signals[0]; ++i) {
    sigaction(fatal_signals[i], &restore, &handlers_before[i]);
  }
}

void release_fatal_signals() {
  for (std::size_t i = 0; i < sizeof fatal_signals / sizeof fatal_signals[0]; ++i) {
    sigaction(fatal_signals[i], &handlers_before[i], nullptr);
  }
}

// False at the end of input, on an error, or when `timeout_ms` (-1: none) passed.
bool read_byte(int terminal, unsigned char& byte, int timeout_ms) {
  for (;;) {
    pollfd ready{terminal, POLLIN, 0};
    int polled = poll(&ready, 1, timeout_ms);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    ssize_t got = read(terminal, &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    return got == 1;
  }
}

// Reads one key: a byte, a UTF-8 character, or the whole escape sequence of
// a function or cursor key, so that no part of it is left for the shell.
void read_one_key(int terminal) {
  unsigned char byte = 0;
  if (!read_byte(terminal, byte, -1)) return;
  if (byte >= 0xc0) {
    int continuation = byte >= 0xf0 ? 3 : byte >= 0xe0 ? 2 : 1;
    while (continuation-- > 0 && read_byte(terminal, byte, rest_of_key_ms)) {
    }
    return;
  }
  if (byte != escape || !read_byte(terminal, byte, rest_of_key_ms)) return;
  if (byte == 'O') {
    read_byte(terminal, byte, rest_of_key_ms);
  } else if (byte == '[') {
    // Parameters, then a final byte from '@' to '~'; the Linux console's
    // F1 to F5 are ESC [ [ and a letter.
    if (read_byte(terminal, byte, rest_of_key_ms) && byte == '[') {
      read_byte(terminal, byte, rest_of_key_ms);
      return;
    }
    while (byte < 0x40 || byte > 0x7e) {
      if (!read_byte(terminal, byte, rest_of_key_ms)) return;
    }
  }
}

void write_all(int file, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(file, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

void write_to_standard_output(std::string_view text) { write_all(STDOUT_FILENO, text); }

bool is_same_device(int file, int terminal) {
  struct stat file_status, terminal_status;
  return fstat(file, &file_status) == 0 && fstat(terminal, &terminal_status) == 0 &&
         S_ISCHR(file_status.st_mode) && file_status.st_rdev == terminal_status.st_rdev;
}

class PosixConsole final : public Console {
 public:
  PosixConsole() : output_(isatty(STDOUT_FILENO) == 1, write_to_standard_output) {
    // A reader that went away must not end the run before its files are written.
    (void)::signal(SIGPIPE, SIG_IGN);
  }

  void write(std::string_view text) override { output_.write(text); }

  void flush() override { output_.flush(); }

  void wait_for_key(std::string_view reason) override {
    // The console is the controlling terminal; a run without one, or in the
    // background, has nobody to press a key.
    int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) return;
    termios mode;
    if (tcgetattr(terminal, &mode) != 0 || tcgetpgrp(terminal) != getpgrp()) {
      close(terminal);
      return;
    }
    if (!is_same_device(STDOUT_FILENO, terminal)) write_all(terminal, reason);
    terminal_mode_before = mode;
    waiting_terminal = terminal;
    catch_fatal_signals();
    // No echo, no line editing, no signal or flow-control keys.
    mode.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    if (tcsetattr(terminal, TCSANOW, &mode) == 0) read_one_key(terminal);
    tcsetattr(terminal, TCSANOW, &terminal_mode_before);
    release_fatal_signals();
    waiting_terminal = -1;
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
