#include "harness.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

Target target_from_environment() {
  Target target;
  const char* program = std::getenv("QUORVANTIS_PROGRAM");
  const char* wine = std::getenv("QUORVANTIS_WINE");
  if (program != nullptr) target.program = program;
  target.wine = wine != nullptr && std::string(wine) == "1";
  if (const char* wrapper = std::getenv("QUORVANTIS_WRAPPER")) {
    std::istringstream words(wrapper);
    for (std::string word; words >> word;) target.wrapper.push_back(word);
  }
  return target;
}

std::string wine_loader() {
  const char* loader = std::getenv("WINELOADER");
  return loader != nullptr && *loader != '\0' ? loader : "wine";
}

std::vector<std::string> program_command(const Target& target, const std::vector<std::string>& arguments) {
  std::vector<std::string> command = target.wrapper;
  if (target.wine) command.push_back(wine_loader());
  command.push_back(target.program);
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

std::string path_for_program(const Target& target, const std::string& path) {
  return target.wine ? "Z:" + replace_all(path, "/", "\\") : path;
}

void exec_in(const std::string& directory, const std::vector<std::string>& command) {
  if (chdir(directory.c_str()) != 0) _exit(126);
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

Finished run_command(const std::vector<std::string>& command, const std::string& directory, RunOptions options) {
  Finished result;
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return result;
  pid_t child = fork();
  if (child == 0) {
    setsid();
    int null_device = open("/dev/null", O_RDWR);
    dup2(null_device, STDIN_FILENO);
    dup2(pipe_ends[1], STDOUT_FILENO);
    dup2(null_device, STDERR_FILENO);
    close(pipe_ends[0]);
    const gid_t groups[] = {options.extra_group};
    if (options.unprivileged && geteuid() == 0 &&
        (setgroups(options.extra_group ? 1 : 0, groups) != 0 || setgid(unprivileged_id) != 0 ||
         setuid(unprivileged_id) != 0)) {
      _exit(125);
    }
    const rlimit file_size{options.file_size_limit, options.file_size_limit};
    if (options.file_size_limit && setrlimit(RLIMIT_FSIZE, &file_size) != 0) _exit(125);
    exec_in(directory, command);
  }
  close(pipe_ends[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeout_ms);
  int wait_status = 0;
  bool exited = false;
  bool pipe_open = true;
  // A helper the program starts (Wine's server) may hold the pipe open: the
  // child's exit, not the pipe's end, closes the run.
  while (!exited || pipe_open) {
    pollfd ready{pipe_ends[0], POLLIN, 0};
    if (pipe_open && poll(&ready, 1, exited ? 0 : 20) > 0) {
      char buffer[4096];
      ssize_t got = read(pipe_ends[0], buffer, sizeof buffer);
      if (got > 0) {
        result.output.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      pipe_open = false;
    } else if (exited) {
      pipe_open = false;
    }
    if (!exited && waitpid(child, &wait_status, WNOHANG) == child) exited = true;
    if (!exited && std::chrono::steady_clock::now() > deadline) {
      kill(-child, SIGKILL);
      waitpid(child, &wait_status, 0);
      close(pipe_ends[0]);
      return result;
    }
  }
  close(pipe_ends[0]);
  result.in_time = true;
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  return result;
}

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (fs::temp_directory_path() / "quorvantis-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  // Read-only directories made by a test must not keep their contents.
  for (auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& contents) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

std::optional<std::string> read_file(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void make_directories(const std::string& path) { fs::create_directories(path); }

std::vector<std::string> files_below(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (auto& entry : fs::recursive_directory_iterator(directory, ignored)) {
    names.push_back(fs::relative(entry.path(), directory).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}
