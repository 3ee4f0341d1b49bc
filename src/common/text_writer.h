#pragma once

#include <string>
#include <string_view>

#include "common/files.h"

// Writes a text file so that it is never seen half-written: the text goes to
// a new file beside the target, which takes the target's place only when all
// of it is on the disk. Every line end is written as CR LF.
class TextWriter {
 public:
  explicit TextWriter(Files& files) : files_(files) {}
  // A file that was opened but not finished is removed; the target stays as it was.
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  // False when the target may not be written or no file can be made beside it.
  bool open(const std::string& path);
  // A failure is kept for finish() to report.
  void write(std::string_view text);
  // True when the whole text has replaced the target.
  bool finish();

 private:
  void write_out_buffer();
  void abandon();

  Files& files_;
  std::string path_;
  std::string temporary_path_;
  FileHandle file_;
  bool open_ = false;
  bool failed_ = false;
  std::string buffer_;
};

// Writes `text` as the whole file at `path` through a TextWriter, unless the
// file already holds exactly these bytes: then it is left alone, with no write
// and no wait for the disk. A file that may not be written fails either way.
bool write_text_file_if_changed(Files& files, const std::string& path, std::string_view text);
