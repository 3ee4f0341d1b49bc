#include "common/text_writer.h"

namespace {

// A target another program holds open (a virus scanner, an indexer, a second
// run) is tried again after each of these pauses: about two seconds in all.
constexpr int first_pause_ms = 15;
constexpr int last_pause_ms = 960;

template <typename Result, typename Attempt>
Result retried_while_busy(Files& files, Attempt attempt) {
  Result result = attempt();
  for (int pause_ms = first_pause_ms; result == Result::busy && pause_ms <= last_pause_ms; pause_ms *= 2) {
    files.pause(pause_ms);
    result = attempt();
  }
  return result;
}

// The bytes of `text` on disk: every line end as CR LF.
void append_disk_bytes(std::string_view text, std::string& bytes) {
  for (std::size_t line_end; (line_end = text.find('\n')) != std::string_view::npos;) {
    bytes += text.substr(0, line_end);
    bytes += "\r\n";
    text.remove_prefix(line_end + 1);
  }
  bytes += text;
}

// False also when the file cannot be read: it is then written anew.
bool file_holds(Files& files, const std::string& path, std::string_view bytes) {
  FileHandle file;
  if (!files.open_for_reading(path, file)) return false;
  std::string block(bytes.size() + 1, '\0');
  std::size_t held = 0;
  bool same = true;
  for (std::size_t count = 1; same && count > 0;) {
    same = files.read(file, block.data(), block.size(), count) && held + count <= bytes.size() &&
           bytes.substr(held, count) == std::string_view(block.data(), count);
    held += count;
  }
  files.close_reading(file);
  return same && held == bytes.size();
}

}  // namespace

TextWriter::~TextWriter() { abandon(); }

bool TextWriter::open(const std::string& path) {
  abandon();
  bytes_.clear();
  const OpenResult result =
      retried_while_busy<OpenResult>(files_, [&] { return files_.open_for_writing(path, writing_); });
  open_ = result == OpenResult::opened;
  return open_;
}

void TextWriter::write(std::string_view text) { append_disk_bytes(text, bytes_); }

bool TextWriter::finish() {
  if (!open_) return false;
  open_ = false;
  return writing_.in_place ? finish_in_place() : finish_new_file();
}

bool TextWriter::finish_new_file() {
  const bool on_disk = files_.write(writing_.file, bytes_.data(), bytes_.size()) && files_.flush_to_disk(writing_.file);
  const ReplaceResult result = on_disk
                                   ? retried_while_busy<ReplaceResult>(files_, [&] { return files_.replace(writing_); })
                                   : ReplaceResult::failed;
  if (result != ReplaceResult::done) {
    files_.discard(writing_);
    return false;
  }
  files_.close_written(writing_.file);
  return true;
}

// The length changes before any old byte is overwritten, so that a failure
// there (a full disk; on Windows, another program that has the file mapped)
// leaves the old contents whole.
bool TextWriter::finish_in_place() {
  const FileHandle file = writing_.file;
  const std::uint64_t old_size = writing_.old_size;
  const std::uint64_t new_size = bytes_.size();
  bool written =
      new_size > old_size ? files_.reserve(file, new_size) : new_size == old_size || files_.cut(file, new_size);
  written = written && files_.write(file, bytes_.data(), bytes_.size());
  // A file system may leave the file grown although the reservation failed.
  if (!written && new_size > old_size) files_.cut(file, old_size);
  written = written && files_.flush_to_disk(file);
  files_.close_written(file);
  return written;
}

void TextWriter::abandon() {
  if (open_) files_.discard(writing_);
  open_ = false;
}

FileWrite write_text_file_if_changed(Files& files, const std::string& path, std::string_view text) {
  // Asked first: an unchanged file that may not be written still fails, as a
  // rewrite would, and a device is never read.
  if (!files.may_write(path)) return FileWrite::not_written;
  std::string bytes;
  append_disk_bytes(text, bytes);
  if (file_holds(files, path, bytes)) return FileWrite::unchanged;
  TextWriter writer(files);
  if (!writer.open(path)) return FileWrite::not_written;
  writer.write(text);
  return writer.finish() ? FileWrite::written : FileWrite::not_written;
}
