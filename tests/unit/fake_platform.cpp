#include "fake_platform.h"

#include <algorithm>

bool MemoryFiles::fails(Step step) {
  if (++calls_[step] != failures_[step]) return false;
  failure_injected = true;
  return true;
}

bool MemoryFiles::open_for_reading(const std::string& path, FileHandle& file) {
  if (fails(Step::open_for_reading) || !files.count(path)) return false;
  file.handle = next_handle_++;
  names_[file.handle] = path;
  positions_[file.handle] = 0;
  ++open_handles;
  return true;
}

bool MemoryFiles::read(FileHandle file, char* buffer, std::size_t capacity, std::size_t& count) {
  if (fails(Step::read)) return false;
  const std::string& contents = files.at(names_.at(file.handle));
  std::size_t& position = positions_.at(file.handle);
  count = std::min({capacity, read_size, contents.size() - position});
  contents.copy(buffer, count, position);
  position += count;
  return true;
}

void MemoryFiles::close_reading(FileHandle file) {
  names_.erase(file.handle);
  --open_handles;
}

bool MemoryFiles::may_write(const std::string& path) { return !fails(Step::may_write) && !read_only.count(path); }

bool MemoryFiles::create_beside(const std::string& path, FileHandle& file, std::string& temporary_path) {
  if (fails(Step::create)) return false;
  temporary_path = path + ".tmp";
  files[temporary_path].clear();
  file.handle = next_handle_++;
  names_[file.handle] = temporary_path;
  ++open_handles;
  return true;
}

bool MemoryFiles::write(FileHandle file, const char* bytes, std::size_t count) {
  if (fails(Step::write)) return false;
  files.at(names_.at(file.handle)).append(bytes, count);
  return true;
}

bool MemoryFiles::flush_to_disk(FileHandle) { return !fails(Step::flush); }

bool MemoryFiles::close_written(FileHandle file) {
  names_.erase(file.handle);
  --open_handles;
  return !fails(Step::close);
}

ReplaceResult MemoryFiles::replace(const std::string& from, const std::string& to) {
  if (fails(Step::replace)) return ReplaceResult::failed;
  if (fails(Step::replace_busy) || busy_replaces-- > 0) return ReplaceResult::busy;
  files[to] = files.at(from);
  files.erase(from);
  return ReplaceResult::done;
}

void MemoryFiles::remove(const std::string& path) { files.erase(path); }

SearchResult FakePodSearch::find_pods(const std::string& directory, std::vector<std::string>& names) {
  searched.push_back(directory);
  if (unreadable.count(directory)) return SearchResult::failed;
  auto found = directories.find(directory);
  if (found == directories.end() || found->second.empty()) return SearchResult::none;
  names.insert(names.end(), found->second.begin(), found->second.end());
  return SearchResult::found;
}
