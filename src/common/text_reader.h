#pragma once

#include <cstddef>
#include <string>

#include "common/files.h"

// Appends the text of `count` raw bytes to `text`: carriage returns are
// dropped and a Ctrl-Z ends the text. Returns true when a Ctrl-Z was met.
bool append_text(const char* bytes, std::size_t count, std::string& text);

// Reads a text file one block at a time.
class TextReader {
 public:
  explicit TextReader(Files& files) : files_(files) {}
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  bool open(const std::string& path);
  // Replaces `text` with the next block; it is empty at the end of the text.
  // False when the file could not be read.
  bool read(std::string& text);

 private:
  Files& files_;
  FileHandle file_;
  bool open_ = false;
  bool ended_ = false;
  std::string block_;
};
