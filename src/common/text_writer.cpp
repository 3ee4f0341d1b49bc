#include "common/text_writer.h"

#include <algorithm>

namespace {

// A target another program holds open (a virus scanner, an indexer, a second
// run) is tried again after each of these pauses: about two seconds in all.
constexpr int first_pause_ms = 15;
constexpr int last_pause_ms = 960;

// A new file is written in blocks of this size as the text comes.
constexpr std::size_t block_size = 64 * 1024;
// In place, the old and the new contents are both held in memory: a file
// larger than this is not rewritten in place, and, so that a list of any
// claimed size (a sparse file) cannot fill a disk, no file is written larger.
constexpr std::size_t size_limit = 64 * 1024 * 1024;

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

}  // namespace

TextWriter::~TextWriter() { close(); }

bool TextWriter::look_up(const std::string& path) {
  close();
  bytes_.clear();
  old_bytes_.clear();
  old_bytes_read_ = old_bytes_held_ = failed_ = false;
  written_ = 0;
  looked_up_ = retried_while_busy<OpenResult>(files_, [&] { return files_.look_up_for_writing(path, writing_); }) ==
               OpenResult::opened;
  return looked_up_;
}

bool TextWriter::begin() {
  if (!looked_up_) return false;
  // In place, the look-up may have opened the target for writing already.
  open_ = writing_.file.is_open() ||
          retried_while_busy<OpenResult>(files_, [&] { return files_.open_for_writing(writing_); }) == OpenResult::opened;
  if (!open_) close();
  return open_;
}

// The old contents, through the handle the look-up judged.
bool TextWriter::read_old_contents() {
  if (old_bytes_read_) return true;
  if (!writing_.old_file.is_open() || writing_.old_size > size_limit) return false;
  old_bytes_.resize(static_cast<std::size_t>(writing_.old_size) + 1);
  std::size_t held = 0;
  for (std::size_t count = 1; count > 0 && held < old_bytes_.size(); held += count) {
    if (!files_.read(writing_.old_file, old_bytes_.data() + held, old_bytes_.size() - held, count)) return false;
  }
  // A file that grew after its length was read is not the one judged.
  if (held != writing_.old_size) return false;
  old_bytes_.resize(held);
  old_bytes_read_ = true;
  old_bytes_held_ = writing_.in_place && writing_.file.is_open();
  return true;
}

bool TextWriter::holds(std::string_view text) {
  std::string bytes;
  append_disk_bytes(text, bytes);
  return looked_up_ && writing_.exists && writing_.old_size == bytes.size() && read_old_contents() &&
         old_bytes_ == bytes;
}

void TextWriter::write(std::string_view text) {
  if (!open_ || failed_) return;
  append_disk_bytes(text, bytes_);
  failed_ = written_ + bytes_.size() > size_limit;
  if (!failed_ && !writing_.in_place && bytes_.size() >= block_size) write_out_held_bytes();
  if (failed_) {
    // The new file goes at once, and with it the disk space it took.
    std::string().swap(bytes_);
    close();
  }
}

void TextWriter::write_out_held_bytes() {
  failed_ = failed_ || !files_.write(writing_.file, written_, bytes_.data(), bytes_.size());
  written_ += bytes_.size();
  bytes_.clear();
}

bool TextWriter::finish() {
  if (!open_) return false;
  const bool finished = !failed_ && (writing_.in_place ? finish_in_place() : finish_new_file());
  close();
  return finished;
}

bool TextWriter::finish_new_file() {
  write_out_held_bytes();
  return !failed_ && files_.flush_to_disk(writing_.file) &&
         retried_while_busy<ReplaceResult>(files_, [&] { return files_.replace(writing_); }) == ReplaceResult::done;
}

// The new bytes go over the old from the start, and the tail is cut only once
// they are on the disk. Any failure writes the old bytes back.
bool TextWriter::finish_in_place() {
  const FileHandle file = writing_.file;
  // The old contents count only as read once the target is held against
  // other writers: read before, to compare, they are read again, so that the
  // cut and the writing back use what is there now.
  if (old_bytes_read_ && !old_bytes_held_) {
    if (!files_.rewind(writing_.old_file)) return false;
    old_bytes_read_ = false;
  }
  // Where this user may write the file but not read it, nothing can be
  // written back: the same checks are made, and then the file is written.
  const bool can_restore = read_old_contents();
  if (writing_.old_file.is_open() && !can_restore) return false;
  const std::uint64_t old_size = can_restore ? old_bytes_.size() : writing_.old_size;
  const std::uint64_t new_size = bytes_.size();
  if (!files_.reserve(file, std::max(old_size, new_size))) return false;
  const bool written = files_.write(file, 0, bytes_.data(), bytes_.size()) && files_.flush_to_disk(file) &&
                       (new_size >= old_size || (files_.cut(file, new_size) && files_.flush_to_disk(file)));
  if (!written && can_restore) {
    (void)(files_.write(file, 0, old_bytes_.data(), old_bytes_.size()) && files_.cut(file, old_size) &&
           files_.flush_to_disk(file));
  }
  return written;
}

void TextWriter::close() {
  if (looked_up_) files_.close(writing_);
  writing_ = {};
  looked_up_ = open_ = false;
}

FileWrite write_text_file_if_changed(Files& files, const std::string& path, std::string_view text) {
  TextWriter writer(files);
  // Looked up first: an unchanged file that may not be written still fails,
  // as a rewrite would, and a device is never read.
  if (!writer.look_up(path)) return FileWrite::not_written;
  if (writer.holds(text)) return FileWrite::unchanged;
  if (!writer.begin()) return FileWrite::not_written;
  writer.write(text);
  return writer.finish() ? FileWrite::written : FileWrite::not_written;
}
