// The key wait after an error, through a pseudo-terminal that plays the
// console: the program stops until a key arrives, one key per report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "harness.h"

namespace {

using namespace std::chrono_literals;

// The program on a terminal of its own; standard output to the terminal or to
// a pipe. In the background, it runs in a process group of its own below the
// session leader, which stays to keep that group from being orphaned, and ends
// with the program's status, or 99 if the program is stopped.
class TerminalRun {
 public:
  TerminalRun(const std::vector<std::string>& command, const std::string& directory, bool output_to_terminal,
              bool in_background = false) {
    if (openpty(&master_, &terminal_, nullptr, nullptr, nullptr) != 0) return;
    termios mode;
    tcgetattr(terminal_, &mode);
    mode_before_ = mode;
    int pipe_ends[2] = {-1, -1};
    if (!output_to_terminal && pipe(pipe_ends) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      setsid();
      ioctl(terminal_, TIOCSCTTY, 0);
      dup2(terminal_, STDIN_FILENO);
      dup2(output_to_terminal ? terminal_ : pipe_ends[1], STDOUT_FILENO);
      // Where standard output is redirected, standard error stays on the
      // terminal, as at a shell; Wine's console shows its screen there.
      int null_device = open("/dev/null", O_WRONLY);
      dup2(output_to_terminal ? null_device : terminal_, STDERR_FILENO);
      // The terminal speaks UTF-8; Wine reads its keys by the locale.
      setenv("LANG", "C.UTF-8", 1);
      unsetenv("LC_ALL");
      unsetenv("LC_CTYPE");
      if (in_background) {
        pid_t program = fork();
        if (program == 0) {
          setpgid(0, 0);
          exec_in(directory, command);
        }
        int status = 0;
        waitpid(program, &status, WUNTRACED);
        if (WIFSTOPPED(status)) kill(program, SIGKILL);
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 99);
      }
      exec_in(directory, command);
    }
    if (!output_to_terminal) {
      close(pipe_ends[1]);
      output_pipe_ = pipe_ends[0];
    }
  }

  ~TerminalRun() {
    if (child_ > 0 && !exited_) {
      kill(-child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    for (int fd : {master_, terminal_, output_pipe_}) {
      if (fd >= 0) close(fd);
    }
  }

  // Collects what the program shows until `text` has appeared `times` times.
  bool shows(const std::string& text, int times, std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (count(text) < times) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 20) > 0) {
        char buffer[4096];
        ssize_t got = read(master_, buffer, sizeof buffer);
        if (got > 0) screen_.append(buffer, static_cast<std::size_t>(got));
      }
    }
    return true;
  }

  void type(const std::string& keys) { ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }

  // True when the program has ended within `limit`, with `status` set.
  bool ends_within(std::chrono::milliseconds limit, int& status) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      shows("", 0, 0ms);
      int wait_status = 0;
      if (waitpid(child_, &wait_status, WNOHANG) == child_) {
        exited_ = true;
        status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
        return true;
      }
      // Keep the terminal drained, so that a program writing to it never blocks.
      shows("\x01never", 1, 20ms);
    }
    return false;
  }

  std::string piped_output() {
    std::string output;
    char buffer[4096];
    ssize_t got;
    while ((got = read(output_pipe_, buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<std::size_t>(got));
    return output;
  }

  // Input the program left unread on its terminal.
  std::string unread_input() {
    termios mode;
    tcgetattr(terminal_, &mode);
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    tcsetattr(terminal_, TCSANOW, &mode);
    std::string left;
    char buffer[256];
    ssize_t got;
    while ((got = read(terminal_, buffer, sizeof buffer)) > 0) left.append(buffer, static_cast<std::size_t>(got));
    return left;
  }

  bool mode_restored() {
    termios mode;
    tcgetattr(terminal_, &mode);
    const tcflag_t line_flags = ECHO | ICANON | ISIG | IEXTEN;
    return (mode.c_lflag & line_flags) == (mode_before_.c_lflag & line_flags) &&
           (mode.c_iflag & (IXON | ICRNL)) == (mode_before_.c_iflag & (IXON | ICRNL));
  }

 private:
  int count(const std::string& text) const {
    if (text.empty()) return 0;
    int found = 0;
    for (std::size_t at = screen_.find(text); at != std::string::npos; at = screen_.find(text, at + 1)) ++found;
    return found;
  }

  int master_ = -1;
  int terminal_ = -1;
  int output_pipe_ = -1;
  pid_t child_ = -1;
  bool exited_ = false;
  termios mode_before_{};
  std::string screen_;
};

// The program still waits after `waiting`, ends with status 0 once `key` comes,
// and leaves the terminal as it found it, with nothing of the key unread.
void expect_waiting_until(TerminalRun& run, const std::string& key, std::chrono::milliseconds waiting) {
  int status = -1;
  EXPECT_FALSE(run.ends_within(waiting, status)) << "ended without its key";
  run.type(key);
  ASSERT_TRUE(run.ends_within(20s, status));
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(run.mode_restored());
  EXPECT_EQ(run.unread_input(), "");
}

class KeyWait : public ::testing::Test {
 protected:
  void SetUp() override {
    target_ = target_from_environment();
    ASSERT_FALSE(target_.program.empty()) << "QUORVANTIS_PROGRAM names the program under test";
  }
  std::vector<std::string> command(std::vector<std::string> arguments) {
    for (std::string& argument : arguments) {
      argument = replace_all(argument, "{root}", path_for_program(target_, directory_.path() + "/pods"));
    }
    return program_command(target_, arguments);
  }
  Target target_;
  TemporaryDirectory directory_;
};

TEST_F(KeyWait, WaitsAfterAnErrorUntilAKeyArrives) {
  TerminalRun run(command({"/3", "{root}"}), directory_.path(), true);
  ASSERT_TRUE(run.shows("Error: cannot open ini file", 1));
  expect_waiting_until(run, "x", 1500ms);
}

// The message is shown at the console too, so that the wait is not a silent one.
TEST_F(KeyWait, StillWaitsWhenStandardOutputIsRedirected) {
  TerminalRun run(command({"/3", "{root}"}), directory_.path(), false);
  ASSERT_TRUE(run.shows("Error: cannot open ini file", 1));
  int status = -1;
  EXPECT_FALSE(run.ends_within(3s, status)) << "ended without a key";
  run.type("\r");
  ASSERT_TRUE(run.ends_within(20s, status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(run.piped_output(), "Error: cannot open ini file\n");
}

// A run in the background has nobody to press a key: it ends at once, and is
// not stopped for touching the terminal.
TEST_F(KeyWait, ABackgroundRunDoesNotWait) {
  if (target_.wine) GTEST_SKIP() << "process groups are the native program's";
  TerminalRun run(command({"/3", "{root}"}), directory_.path(), true, true);
  int status = -1;
  ASSERT_TRUE(run.ends_within(10s, status));
  EXPECT_EQ(status, 0);
}

// Nobody can see the console of a program started without a console window,
// nor of a task in a window station that is never shown: an error there ends
// the run at once, at a terminal or not.
TEST_F(KeyWait, AnUnseenConsoleDoesNotWait) {
  if (!target_.wine) GTEST_SKIP() << "console windows and window stations are Windows'";
  const char* helper = std::getenv("QUORVANTIS_WINDOWS_HELPER");
  ASSERT_NE(helper, nullptr) << "QUORVANTIS_WINDOWS_HELPER names the helper program";
  for (const char* start : {"no-window", "own-station"}) {
    TerminalRun run({wine_loader(), helper, start, path_for_program(target_, target_.program), "/3",
                     path_for_program(target_, directory_.path() + "/pods")},
                    directory_.path(), true);
    int status = -1;
    ASSERT_TRUE(run.ends_within(20s, status)) << start;
    EXPECT_EQ(status, 0) << start;
  }
}

// Eight reports: seven lists without common pods, then no list file to install.
// Each key, however many bytes the terminal sends for it, ends one wait only.
TEST_F(KeyWait, EachKeyEndsOneWaitAndLeavesNothingBehind) {
  make_directories(directory_.path() + "/pods/0");
  TerminalRun run(command({"/u", "/3", "{root}"}), directory_.path(), true);
  std::vector<std::string> keys = {
      "\x1b[A",      // cursor up
      "\x1bOP",      // F1
      "\x1b[15~",    // F5
      "\x03",        // Ctrl-C: a key here, not a signal
      "\xc3\xa9",    // a character of two bytes
      "q",
      "\x1b[1;5C",   // Ctrl-cursor right
  };
  // Wine's terminal console turns Ctrl-C into a signal, whatever the console mode.
  if (target_.wine) keys.erase(keys.begin() + 3);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    ASSERT_TRUE(run.shows("Error: path to pods not found", static_cast<int>(i) + 1)) << "report " << i + 1;
    std::this_thread::sleep_for(200ms);
    run.type(keys[i]);
  }
  ASSERT_TRUE(run.shows("Error: path to pods not found", 7));
  if (target_.wine) {
    std::this_thread::sleep_for(200ms);
    run.type("w");
  }
  ASSERT_TRUE(run.shows("Error: cannot open ini file", 1));
  expect_waiting_until(run, " ", 1000ms);
}

}  // namespace
