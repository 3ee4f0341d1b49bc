// The key wait after an error: the program stops until a key arrives, one key
// per report. The native program at a pseudo-terminal that plays the console;
// the Windows program in a console window of Wine's own, on a virtual display.
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

// Where standard output goes: the terminal, a log with standard error too
// (">log 2>&1"), /dev/null, or nowhere (">&-").
enum class Output { terminal, log, null, closed };

// The program as the session's leader, or as a shell's job: in a process
// group of its own below the session leader, which stays as a shell does.
enum class Job { none, foreground, background };

// The program on a terminal of its own. As a job, the session leader ends
// with the program's status; a job stopped in the background is killed (99),
// one in the foreground continued as "fg" does, after the shell had the
// terminal in its own mode. Under nohup, hang-ups are ignored.
class TerminalRun {
 public:
  TerminalRun(const std::vector<std::string>& command, const std::string& directory, Output output,
              Job job = Job::none, bool nohup = false) {
    if (openpty(&master_, &terminal_, nullptr, nullptr, nullptr) != 0) return;
    termios mode;
    tcgetattr(terminal_, &mode);
    mode_before_ = mode;
    int pipe_ends[2] = {-1, -1};
    if (output == Output::log && pipe(pipe_ends) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      setsid();
      ioctl(terminal_, TIOCSCTTY, 0);
      dup2(terminal_, STDIN_FILENO);
      int null_device = open("/dev/null", O_WRONLY);
      const int out = output == Output::terminal ? terminal_ : output == Output::log ? pipe_ends[1] : null_device;
      dup2(out, STDOUT_FILENO);
      dup2(output == Output::log ? out : null_device, STDERR_FILENO);
      if (output == Output::closed) close(STDOUT_FILENO);
      if (nohup) signal(SIGHUP, SIG_IGN);
      setenv("LANG", "C.UTF-8", 1);
      unsetenv("LC_ALL");
      unsetenv("LC_CTYPE");
      if (job != Job::none) {
        signal(SIGTTOU, SIG_IGN);  // to take the terminal back
        pid_t program = fork();
        if (program == 0) {
          setpgid(0, 0);
          if (job == Job::foreground) tcsetpgrp(STDIN_FILENO, getpid());
          signal(SIGTTOU, SIG_DFL);
          exec_in(directory, command);
        }
        int status = 0;
        while (waitpid(program, &status, WUNTRACED) == program && WIFSTOPPED(status) && job == Job::foreground) {
          tcsetpgrp(STDIN_FILENO, getpgrp());
          tcsetattr(STDIN_FILENO, TCSANOW, &mode);
          tcsetpgrp(STDIN_FILENO, program);
          kill(program, SIGCONT);
        }
        if (WIFSTOPPED(status)) kill(program, SIGKILL);
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 99);
      }
      exec_in(directory, command);
    }
    if (output == Output::log) {
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

  // What has reached the log so far; all of it once the program has ended.
  std::string logged() {
    if (output_pipe_ < 0) return "";
    char buffer[4096];
    for (pollfd ready{output_pipe_, POLLIN, 0}; poll(&ready, 1, 100) > 0;) {
      ssize_t got = read(output_pipe_, buffer, sizeof buffer);
      if (got <= 0) break;
      log_.append(buffer, static_cast<std::size_t>(got));
    }
    return log_;
  }

  // To the terminal's foreground process group, as its keys would.
  void signal_program(int number) {
    if (const pid_t group = tcgetpgrp(master_); group > 1) kill(-group, number);
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

  int count(const std::string& text) const {
    if (text.empty()) return 0;
    int found = 0;
    for (std::size_t at = screen_.find(text); at != std::string::npos; at = screen_.find(text, at + 1)) ++found;
    return found;
  }

 private:
  int master_ = -1;
  int terminal_ = -1;
  int output_pipe_ = -1;
  pid_t child_ = -1;
  bool exited_ = false;
  termios mode_before_{};
  std::string screen_;
  std::string log_;
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

// Wherever standard output goes, the message shows at the terminal once, a
// log holds it before the wait, and the wait ends with a key. A signal during
// the wait ends the program as it would any other, and the terminal gets its
// mode back; one ignored from the start, as a hang-up under nohup, changes
// nothing. Stopped (SIGTSTP) and continued, the wait goes on as it was.
TEST_F(KeyWait, WaitsAfterAnErrorUntilAKeyArrives) {
  if (target_.wine) GTEST_SKIP() << "a Wine console at a terminal has no visible window: see WindowsConsoles";
  struct Case {
    Output output;
    int signal = 0;
    bool nohup = false;
  } cases[] = {{Output::terminal}, {Output::log}, {Output::null}, {Output::closed},
               {Output::terminal, SIGHUP, true}, {Output::terminal, SIGTERM}, {Output::terminal, SIGUSR1},
               {Output::terminal, SIGTSTP}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.output) << " signal " << c.signal);
    const bool stops = c.signal == SIGTSTP;
    TerminalRun run(command({"/3", "{root}"}), directory_.path(), c.output, stops ? Job::foreground : Job::none, c.nohup);
    ASSERT_TRUE(run.shows("Error: cannot open ini file", 1));
    const std::string logged = c.output == Output::log ? "Error: cannot open ini file\n" : "";
    EXPECT_EQ(run.logged(), logged);
    if (c.signal) {
      std::this_thread::sleep_for(200ms);  // the wait has begun
      run.signal_program(c.signal);
    }
    int status = 0;
    if (c.signal && !c.nohup && !stops) {
      EXPECT_TRUE(run.ends_within(10s, status));
      EXPECT_EQ(status, -1);
      EXPECT_TRUE(run.mode_restored());
    } else {
      expect_waiting_until(run, "x", 1500ms);
    }
    EXPECT_EQ(run.count("Error: cannot open ini file"), 1);
    EXPECT_EQ(run.logged(), logged);
  }
}

// A run in the background has nobody to press a key: it ends at once, and is
// not stopped for touching the terminal.
TEST_F(KeyWait, ABackgroundRunDoesNotWait) {
  if (target_.wine) GTEST_SKIP() << "process groups are the native program's";
  TerminalRun run(command({"/3", "{root}"}), directory_.path(), Output::terminal, Job::background);
  int status = -1;
  ASSERT_TRUE(run.ends_within(10s, status));
  EXPECT_EQ(status, 0);
}

// The Windows program started as Windows starts it, by the helper program.
// A console window that nobody can see (hidden, none at all, or in a window
// station that is never shown) never waits. A visible one, normal or
// minimized, waits for a key that gives a character, not for a modifier
// alone, then gives the console its input mode back; it shows the message
// also where standard output goes to a log, which holds it before the wait.
TEST_F(KeyWait, WindowsConsoles) {
  if (!target_.wine) GTEST_SKIP() << "console windows are Windows'";
  const char* helper = std::getenv("QUORVANTIS_WINDOWS_HELPER");
  ASSERT_NE(helper, nullptr) << "QUORVANTIS_WINDOWS_HELPER names the helper program";
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "Wine's console windows need a display";
  const std::string log = directory_.path() + "/log", shown = "screen Error: cannot open ini file";
  struct Case {
    const char* how;
    const char* show;  // SW_HIDE 0, SW_SHOWNORMAL 1, SW_SHOWMINNOACTIVE 7
    bool to_log;
    const char* keys;
    std::vector<std::string> seen;
  } cases[] = {
      {"console", "0", false, "", {"ended 0"}},
      {"console", "1", false, "x", {shown, "x ended 0"}},
      {"console", "7", false, "shift,x", {shown, "shift waiting", "x ended 0"}},
      {"console", "1", true, "kill", {shown, "kill ended 9"}},
      {"no-window", "1", false, "", {"ended 0"}},
      {"own-station", "1", false, "", {"ended 0"}},
  };
  for (const Case& c : cases) {
    std::remove(log.c_str());
    Finished done = run_command({wine_loader(), helper, "start", c.how, c.show, c.to_log ? path_for_program(target_, log) : "-",
                                 c.keys, path_for_program(target_, target_.program), "/3",
                                 path_for_program(target_, directory_.path() + "/pods")},
                                directory_.path());
    const std::string lines = "\n" + replace_all(done.output, "\r", "");
    SCOPED_TRACE(std::string(c.how) + " " + c.show + ": " +
                 (done.in_time ? "helper's status " + std::to_string(done.status) : "helper timed out") + lines);
    ASSERT_TRUE(done.in_time);
    for (const std::string& line : c.seen) EXPECT_NE(lines.find("\n" + line + (line == shown ? "" : "\n")), std::string::npos) << line;
    if (std::string(c.keys).find('x') != std::string::npos) {
      const std::size_t mode = lines.find("\nmode ");
      constexpr unsigned long processed_line_echo = 7;
      EXPECT_EQ(std::strtoul(lines.c_str() + mode + 6, nullptr, 10) & processed_line_echo, processed_line_echo);
    }
    EXPECT_EQ(read_file(log), c.to_log ? std::optional<std::string>("Error: cannot open ini file\n") : std::nullopt);
  }
}

// Eight reports: seven lists without common pods, then no list file to install.
// Each key, however many bytes the terminal sends for it, ends one wait only.
TEST_F(KeyWait, EachKeyEndsOneWaitAndLeavesNothingBehind) {
  if (target_.wine) GTEST_SKIP() << "a Wine console at a terminal has no visible window: see WindowsConsoles";
  make_directories(directory_.path() + "/pods/0");
  TerminalRun run(command({"/u", "/3", "{root}"}), directory_.path(), Output::terminal);
  std::vector<std::string> keys = {
      "\x1b[A",      // cursor up
      "\x1bOP",      // F1
      "\x1b[15~",    // F5
      "\x03",        // Ctrl-C: a key here, not a signal
      "\xc3\xa9",    // a character of two bytes
      "q",
      "\x1b[1;5C",   // Ctrl-cursor right
  };
  for (std::size_t i = 0; i < keys.size(); ++i) {
    ASSERT_TRUE(run.shows("Error: path to pods not found", static_cast<int>(i) + 1)) << "report " << i + 1;
    std::this_thread::sleep_for(200ms);
    run.type(keys[i]);
  }
  ASSERT_TRUE(run.shows("Error: path to pods not found", 7));
  ASSERT_TRUE(run.shows("Error: cannot open ini file", 1));
  expect_waiting_until(run, " ", 1000ms);
}

}  // namespace
