#include "common/text_writer.h"

namespace {

constexpr std::size_t buffer_limit = 64 * 1024;
// A target another program holds open (a virus scanner, an indexer, a second
// run) is tried again after each of these pauses: about two seconds in all.
constexpr int first_pause_ms = 15;
constexpr int last_pause_ms = 960;

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
  path_ = path;
  failed_ = false;
  buffer_.clear();
  if (!files_.may_write(path)) return false;
  open_ = files_.create_beside(path, file_, temporary_path_);
  return open_;
}

void TextWriter::write(std::string_view text) {
  append_disk_bytes(text, buffer_);
  if (buffer_.size() >= buffer_limit) write_out_buffer();
}

void TextWriter::write_out_buffer() {
  // After a failure the rest is dropped: finish() reports it.
  if (open_ && !failed_ && !buffer_.empty() && !files_.write(file_, buffer_.data(), buffer_.size())) {
    failed_ = true;
  }
  buffer_.clear();
}

bool TextWriter::finish() {
  if (!open_) return false;
  write_out_buffer();
  bool ok = !failed_ && files_.flush_to_disk(file_);
  ok = files_.close_written(file_) && ok;
  open_ = false;
  ReplaceResult result = ok ? files_.replace(temporary_path_, path_) : ReplaceResult::failed;
  for (int pause_ms = first_pause_ms; result == ReplaceResult::busy && pause_ms <= last_pause_ms; pause_ms *= 2) {
    files_.pause(pause_ms);
    result = files_.replace(temporary_path_, path_);
  }
  if (result == ReplaceResult::done) return true;
  files_.remove(temporary_path_);
  return false;
}

void TextWriter::abandon() {
  if (!open_) return;
  files_.close_written(file_);
  files_.remove(temporary_path_);
  open_ = false;
}

bool write_text_file_if_changed(Files& files, const std::string& path, std::string_view text) {
  // Asked first: an unchanged file that may not be written still fails, as a
  // rewrite would, and a device is never read.
  if (!files.may_write(path)) return false;
  std::string bytes;
  append_disk_bytes(text, bytes);
  if (file_holds(files, path, bytes)) return true;
  TextWriter writer(files);
  if (!writer.open(path)) return false;
  writer.write(text);
  return writer.finish();
}
