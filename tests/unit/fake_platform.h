#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/files.h"
#include "common/platform.h"
#include "common/pod_search.h"

// Records what the program writes and where it waits for a key.
class FakeConsole final : public Console {
 public:
  void write(std::string_view text) override { output += text; }
  void wait_for_key(std::string_view) override { output += "<key>"; }
  std::string output;
};

// Files held in memory, by name. Any one step can be made to fail.
class MemoryFiles final : public Files {
 public:
  // replace_busy: the target is held by another program for that one call.
  enum class Step { open_for_reading, read, look_up, open_for_writing, reserve, write, cut, flush, replace,
                    replace_busy };

  // Makes the `occurrence`th call (from 1) of `step` fail.
  void fail_at(Step step, int occurrence = 1) { failures_[step] = occurrence; }

  std::size_t longest_path() const override { return longest; }
  bool open_for_reading(const std::string& path, FileHandle& file) override;
  bool read(FileHandle file, char* buffer, std::size_t capacity, std::size_t& count) override;
  void close_reading(FileHandle file) override;
  bool rewind(FileHandle file) override {
    positions_.at(file.handle) = 0;
    return true;
  }
  OpenResult look_up_for_writing(const std::string& path, WritingFile& writing) override;
  OpenResult open_for_writing(WritingFile& writing) override;
  bool reserve(FileHandle file, std::uint64_t size) override;
  bool cut(FileHandle file, std::uint64_t size) override;
  bool write(FileHandle file, std::uint64_t offset, const char* bytes, std::size_t count) override;
  bool flush_to_disk(FileHandle file) override;
  ReplaceResult replace(WritingFile& writing) override;
  void close(const WritingFile& writing) override;
  void pause(int milliseconds) override { paused_ms += milliseconds; }

  std::map<std::string, std::string> files;
  std::set<std::string> read_only;
  std::set<std::string> in_place;  // files whose folder lets no new file take their place
  std::set<std::string> write_only;  // files this user may write but not read
  std::vector<std::string> opened_for_reading;
  std::size_t read_size = 7;  // small, so that blocks split lines
  int open_handles = 0;
  bool failure_injected = false;
  std::size_t longest = 4095;
  int busy_opens = 0;     // calls that find the target held, before one opens it
  int busy_replaces = 0;  // likewise for replace
  int paused_ms = 0;

 private:
  bool fails(Step step);
  std::map<Step, int> failures_;
  std::map<Step, int> calls_;
  std::map<std::intptr_t, std::string> names_;
  std::map<std::intptr_t, std::size_t> positions_;
  FileHandle open_handle(const std::string& name);
  void close_handle(FileHandle file);
  std::intptr_t next_handle_ = 1;
};

class FakePodSearch final : public PodSearch {
 public:
  SearchResult find_pods(const std::string& directory, std::vector<std::string>& names) override;
  std::map<std::string, std::vector<std::string>> directories;
  std::set<std::string> unreadable;
  std::vector<std::string> searched;
};

struct FakePlatform {
  FakeConsole console;
  MemoryFiles files;
  FakePodSearch pods;
  static inline int weekday = 1;
  Platform platform{console, files, pods, [] { return weekday; }, [] { return std::string("C:\\run\\"); }};
};
