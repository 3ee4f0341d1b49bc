#include "common/text_writer.h"

namespace {
constexpr std::size_t buffer_limit = 64 * 1024;
}

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
  for (std::size_t line_end; (line_end = text.find('\n')) != std::string_view::npos;) {
    buffer_ += text.substr(0, line_end);
    buffer_ += "\r\n";
    text.remove_prefix(line_end + 1);
  }
  buffer_ += text;
  if (buffer_.size() >= buffer_limit) write_out_buffer();
}

void TextWriter::write_out_buffer() {
  if (!open_ || failed_) return;
  if (!buffer_.empty() && !files_.write(file_, buffer_.data(), buffer_.size())) failed_ = true;
  buffer_.clear();
}

bool TextWriter::finish() {
  if (!open_) return false;
  write_out_buffer();
  bool ok = !failed_ && files_.flush_to_disk(file_);
  ok = files_.close_written(file_) && ok;
  open_ = false;
  if (ok && files_.replace(temporary_path_, path_)) return true;
  files_.remove(temporary_path_);
  return false;
}

void TextWriter::abandon() {
  if (!open_) return;
  files_.close_written(file_);
  files_.remove(temporary_path_);
  open_ = false;
}
