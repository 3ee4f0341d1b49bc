#include "common/posix/key_wait.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Bytes of one key that a terminal sends together arrive well within this.
constexpr int rest_of_key_ms = 100;
constexpr unsigned char escape = 0x1b;

// What the signal handler needs of the wait.
int waiting_terminal = -1;
termios mode_before;
termios mode_waiting;
volatile sig_atomic_t waiting = 0;
struct sigaction handlers_before[NSIG];
bool caught[NSIG];

// Every signal whose default ends or stops the program, and SIGCONT, which
// continues it.
bool is_caught(int number) {
  return number != SIGKILL && number != SIGSTOP && number != SIGCHLD && number != SIGURG && number != SIGWINCH;
}

constexpr int stop_signals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// A program in the background must leave the terminal to the one in front.
bool in_foreground() { return tcgetpgrp(waiting_terminal) == getpgrp(); }

extern "C" void on_signal(int number);

void catch_with_handler(int number) {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigfillset(&action.sa_mask);
  sigaction(number, &action, nullptr);
}

extern "C" void on_signal(int number) {
  const int saved_errno = errno;
  // Nothing is left to do should any of these calls fail.
  if (number == SIGCONT) {
    for (int stop : stop_signals) {
      if (caught[stop]) catch_with_handler(stop);
    }
    if (waiting && in_foreground()) tcsetattr(waiting_terminal, TCSANOW, &mode_waiting);
  } else {
    if (in_foreground()) tcsetattr(waiting_terminal, TCSANOW, &mode_before);
    // The signal's own action, ending or stopping the program, follows once
    // this handler returns; after a stop, SIGCONT takes the wait up again.
    (void)::signal(number, SIG_DFL);
    (void)raise(number);
  }
  errno = saved_errno;
}

void catch_signals() {
  for (int number = 1; number < NSIG; ++number) {
    // One ignored from the start stays ignored: under nohup, a hang-up ends
    // the wait, as a terminal that is gone does, and not the run.
    caught[number] = is_caught(number) && sigaction(number, nullptr, &handlers_before[number]) == 0 &&
                     handlers_before[number].sa_handler != SIG_IGN;
    if (caught[number]) catch_with_handler(number);
  }
}

void release_signals() {
  for (int number = 1; number < NSIG; ++number) {
    if (caught[number]) sigaction(number, &handlers_before[number], nullptr);
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

}  // namespace

void read_key_in_raw_mode(int terminal, const termios& before) {
  waiting_terminal = terminal;
  mode_before = before;
  mode_waiting = before;
  // No echo, no line editing, no signal or flow-control keys.
  mode_waiting.c_iflag &=
      ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
  mode_waiting.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  mode_waiting.c_cc[VMIN] = 1;
  mode_waiting.c_cc[VTIME] = 0;
  waiting = 1;
  catch_signals();
  if (tcsetattr(terminal, TCSANOW, &mode_waiting) == 0) read_one_key(terminal);
  waiting = 0;
  tcsetattr(terminal, TCSANOW, &mode_before);
  release_signals();
  waiting_terminal = -1;
}
