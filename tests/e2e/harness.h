#pragma once

#include <optional>
#include <string>
#include <vector>

// Runs the program under test, native or the Windows build under Wine, as
// named by the environment: QUORVANTIS_PROGRAM, QUORVANTIS_WINE=1 for Wine, and
// QUORVANTIS_WRAPPER for a command to run it under (words split at blanks).
struct Target {
  std::string program;
  bool wine = false;
  std::vector<std::string> wrapper;
};
Target target_from_environment();

struct Finished {
  bool in_time = false;
  int status = -1;  // exit status, or -1 when killed or timed out
  std::string output;
};

struct RunOptions {
  int timeout_ms = 60000;
  bool unprivileged = false;  // as user and group 65534 (nobody) when started as root
  unsigned extra_group = 0;   // and, unless 0, a member of this group too
  std::size_t file_size_limit = 0;  // in bytes, unless 0 (ulimit -f)
};

// Starts `command` in a new session (no controlling terminal), standard input
// from /dev/null, and kills it when it outlives its time.
Finished run_command(const std::vector<std::string>& command, const std::string& directory, RunOptions options = {});

// In a child process just forked: changes to `directory` and becomes `command`.
[[noreturn]] void exec_in(const std::string& directory, const std::vector<std::string>& command);

// The id that RunOptions::unprivileged runs as.
inline constexpr unsigned unprivileged_id = 65534;

// The Wine that runs Windows programs: $WINELOADER where set, else the launcher "wine".
std::string wine_loader();

// The program with its arguments, as `command` for run_command.
std::vector<std::string> program_command(const Target& target, const std::vector<std::string>& arguments);

// A path of this machine as the program under test names it.
std::string path_for_program(const Target& target, const std::string& path);

// A fresh directory, removed with its contents when the object goes.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Plain file helpers for test set-up and checks.
void write_file(const std::string& path, const std::string& contents);  // creates parent directories
std::optional<std::string> read_file(const std::string& path);          // nullopt: no regular file there
void make_directories(const std::string& path);
std::vector<std::string> files_below(const std::string& directory);  // relative names, sorted
std::string replace_all(std::string text, const std::string& from, const std::string& to);
