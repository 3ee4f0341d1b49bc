#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/files.h"

// Writes a text file whole, every line end as CR LF. Where the folder allows
// it, the text goes to a new file beside the target, which takes the target's
// place only once all of it is on the disk: the target is never seen
// half-written. Where no file may take the target's place, but the target
// itself may be written, it is rewritten in place: the new bytes over the old
// from the start, then the tail cut, and on any failure the old bytes written
// back, so that a failure the run sees leaves the old file whole.
class TextWriter {
 public:
  explicit TextWriter(Files& files) : files_(files) {}
  // A file that was opened but not finished is dropped; the target stays as it was.
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  // False when the target may not be written. One that another program holds
  // is waited for, for about two seconds.
  bool open(const std::string& path) { return look_up(path) && begin(); }
  // open() in two halves, for a caller that looks at the old contents first.
  bool look_up(const std::string& path);
  bool begin();
  // True when the target already holds exactly the disk bytes of `text`.
  bool holds(std::string_view text);

  // A new file receives the text as it comes; in place, it is kept until
  // finish(), so that the old bytes are overwritten only once the whole new
  // contents are known. Either way up to a limit.
  void write(std::string_view text);
  // True once the text can no longer reach the target (a write failed, or it
  // grew past the limit): the target keeps what it held, no new file is left,
  // and more text is of no use.
  bool failed() const { return failed_; }
  // True when the whole text has reached the target.
  bool finish();

 private:
  bool read_old_contents();
  void write_out_held_bytes();
  bool finish_new_file();
  bool finish_in_place();
  void close();

  Files& files_;
  WritingFile writing_;
  bool looked_up_ = false;
  bool open_ = false;
  bool failed_ = false;  // a write failed, or the text grew past what is rewritten in place
  std::string bytes_;    // disk bytes not written yet
  std::uint64_t written_ = 0;
  std::string old_bytes_;
  bool old_bytes_read_ = false;
  bool old_bytes_held_ = false;  // read while the target was held against other writers
};

// What became of a file that write_text_file_if_changed was given.
enum class FileWrite { written, unchanged, not_written };

// Writes `text` as the whole file at `path` through a TextWriter, unless the
// file already holds exactly these bytes: then it is left alone, with no write
// and no wait for the disk. A file that may not be written fails either way.
FileWrite write_text_file_if_changed(Files& files, const std::string& path, std::string_view text);
