#include "fake_platform.h"

#include <algorithm>

bool MemoryFiles::fails(Step step) {
  if (++calls_[step] != failures_[step]) return false;
  failure_injected = true;
  return true;
}

bool MemoryFiles::open_for_reading(const std::string& path, FileHandle& file) {
  opened_for_reading.push_back(path);
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

OpenResult MemoryFiles::open_for_writing(const std::string& path, WritingFile& writing) {
  if (fails(Step::open_for_writing) || read_only.count(path)) return OpenResult::refused;
  if (busy_opens-- > 0) return OpenResult::busy;
  writing = {};
  writing.file.handle = next_handle_++;
  writing.target = path;
  writing.in_place = in_place.count(path) > 0;
  if (writing.in_place) {
    writing.old_size = files.at(path).size();
  } else {
    writing.temporary_path = path + ".tmp";
    files[writing.temporary_path].clear();
  }
  names_[writing.file.handle] = writing.in_place ? path : writing.temporary_path;
  positions_[writing.file.handle] = 0;
  ++open_handles;
  return OpenResult::opened;
}

bool MemoryFiles::reserve(FileHandle file, std::uint64_t size) {
  // Grown even where it fails, as a file system may leave it.
  std::string& contents = files.at(names_.at(file.handle));
  if (contents.size() < size) contents.resize(size, '\0');
  return !fails(Step::reserve);
}

bool MemoryFiles::cut(FileHandle file, std::uint64_t size) {
  if (fails(Step::cut)) return false;
  files.at(names_.at(file.handle)).resize(size, '\0');
  return true;
}

bool MemoryFiles::write(FileHandle file, const char* bytes, std::size_t count) {
  if (fails(Step::write)) return false;
  std::string& contents = files.at(names_.at(file.handle));
  std::size_t& position = positions_.at(file.handle);
  if (contents.size() < position + count) contents.resize(position + count);
  contents.replace(position, count, bytes, count);
  position += count;
  return true;
}

bool MemoryFiles::flush_to_disk(FileHandle) { return !fails(Step::flush); }

ReplaceResult MemoryFiles::replace(const WritingFile& writing) {
  if (fails(Step::replace)) return ReplaceResult::failed;
  if (fails(Step::replace_busy) || busy_replaces-- > 0) return ReplaceResult::busy;
  files[writing.target] = files.at(writing.temporary_path);
  files.erase(writing.temporary_path);
  names_[writing.file.handle] = writing.target;
  return ReplaceResult::done;
}

void MemoryFiles::close_written(FileHandle file) {
  names_.erase(file.handle);
  --open_handles;
}

void MemoryFiles::discard(const WritingFile& writing) {
  names_.erase(writing.file.handle);
  --open_handles;
  if (!writing.in_place) files.erase(writing.temporary_path);
}

SearchResult FakePodSearch::find_pods(const std::string& directory, std::vector<std::string>& names) {
  searched.push_back(directory);
  if (unreadable.count(directory)) return SearchResult::failed;
  auto found = directories.find(directory);
  if (found == directories.end() || found->second.empty()) return SearchResult::none;
  names.insert(names.end(), found->second.begin(), found->second.end());
  return SearchResult::found;
}
