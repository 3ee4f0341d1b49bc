#include "fake_platform.h"

#include <algorithm>

bool MemoryFiles::fails(Step step) {
  if (++calls_[step] != failures_[step]) return false;
  failure_injected = true;
  return true;
}

FileHandle MemoryFiles::open_handle(const std::string& name) {
  FileHandle file{next_handle_++};
  names_[file.handle] = name;
  positions_[file.handle] = 0;
  ++open_handles;
  return file;
}

void MemoryFiles::close_handle(FileHandle file) {
  if (names_.erase(file.handle)) --open_handles;
}

bool MemoryFiles::open_for_reading(const std::string& path, FileHandle& file) {
  opened_for_reading.push_back(path);
  if (fails(Step::open_for_reading) || !files.count(path)) return false;
  file = open_handle(path);
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

void MemoryFiles::close_reading(FileHandle file) { close_handle(file); }

OpenResult MemoryFiles::look_up_for_writing(const std::string& path, WritingFile& writing) {
  if (fails(Step::look_up) || read_only.count(path)) return OpenResult::refused;
  writing = {};
  writing.target = path;
  writing.exists = files.count(path) > 0;
  if (!writing.exists) return OpenResult::opened;
  writing.old_size = files.at(path).size();
  if (!write_only.count(path)) writing.old_file = open_handle(path);
  writing.in_place = in_place.count(path) > 0;
  if (!writing.in_place) return OpenResult::opened;
  if (busy_opens-- > 0) {
    close(writing);
    return OpenResult::busy;
  }
  writing.file = open_handle(path);
  return OpenResult::opened;
}

OpenResult MemoryFiles::open_for_writing(WritingFile& writing) {
  if (fails(Step::open_for_writing)) return OpenResult::refused;
  if (busy_opens-- > 0) return OpenResult::busy;
  writing.temporary_name = writing.target + ".tmp";
  files[writing.temporary_name].clear();
  writing.file = open_handle(writing.temporary_name);
  return OpenResult::opened;
}

bool MemoryFiles::reserve(FileHandle, std::uint64_t) { return !fails(Step::reserve); }

bool MemoryFiles::cut(FileHandle file, std::uint64_t size) {
  if (fails(Step::cut)) return false;
  files.at(names_.at(file.handle)).resize(size, '\0');
  return true;
}

bool MemoryFiles::write(FileHandle file, std::uint64_t offset, const char* bytes, std::size_t count) {
  if (fails(Step::write)) return false;
  std::string& contents = files.at(names_.at(file.handle));
  if (contents.size() < offset + count) contents.resize(offset + count);
  contents.replace(offset, count, bytes, count);
  return true;
}

bool MemoryFiles::flush_to_disk(FileHandle) { return !fails(Step::flush); }

ReplaceResult MemoryFiles::replace(WritingFile& writing) {
  if (fails(Step::replace)) return ReplaceResult::failed;
  if (fails(Step::replace_busy) || busy_replaces-- > 0) return ReplaceResult::busy;
  files[writing.target] = files.at(writing.temporary_name);
  files.erase(writing.temporary_name);
  names_[writing.file.handle] = writing.target;
  writing.temporary_name.clear();
  return ReplaceResult::done;
}

void MemoryFiles::close(const WritingFile& writing) {
  close_handle(writing.file);
  close_handle(writing.old_file);
  if (!writing.temporary_name.empty()) files.erase(writing.temporary_name);
}

SearchResult FakePodSearch::find_pods(const std::string& directory, std::vector<std::string>& names) {
  searched.push_back(directory);
  if (unreadable.count(directory)) return SearchResult::failed;
  auto found = directories.find(directory);
  if (found == directories.end() || found->second.empty()) return SearchResult::none;
  names.insert(names.end(), found->second.begin(), found->second.end());
  return SearchResult::found;
}
