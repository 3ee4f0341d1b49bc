#pragma once

#include <string>
#include <string_view>

#include "common/files.h"

// Writes a text file whole, every line end as CR LF. Where the folder allows
// it, the text goes to a new file beside the target, which takes the target's
// place only once all of it is on the disk: the target is never seen
// half-written. Where the folder lets no file take the target's place, but
// the target itself may be written, it is rewritten in place, given its new
// length first, so that a full disk is found before any old byte is
// overwritten.
class TextWriter {
 public:
  explicit TextWriter(Files& files) : files_(files) {}
  // A file that was opened but not finished is dropped; the target stays as it was.
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  // False when the target may not be written. One that another program holds
  // is waited for, for about two seconds.
  bool open(const std::string& path);
  // Kept until finish(): the whole length is known before anything is written.
  void write(std::string_view text);
  // True when the whole text has reached the target.
  bool finish();

 private:
  bool finish_new_file();
  bool finish_in_place();
  void abandon();

  Files& files_;
  WritingFile writing_;
  bool open_ = false;
  std::string bytes_;
};

// What became of a file that write_text_file_if_changed was given.
enum class FileWrite { written, unchanged, not_written };

// Writes `text` as the whole file at `path` through a TextWriter, unless the
// file already holds exactly these bytes: then it is left alone, with no write
// and no wait for the disk. A file that may not be written fails either way.
FileWrite write_text_file_if_changed(Files& files, const std::string& path, std::string_view text);
