#include "common/text_reader.h"

namespace {
constexpr char carriage_return = '\r';
constexpr char end_of_text = 26;  // Ctrl-Z
constexpr std::size_t block_size = 64 * 1024;
}  // namespace

bool append_text(const char* bytes, std::size_t count, std::string& text) {
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes[i] == end_of_text) return true;
    if (bytes[i] != carriage_return) text += bytes[i];
  }
  return false;
}

TextReader::~TextReader() {
  if (open_) files_.close_reading(file_);
}

bool TextReader::open(const std::string& path) {
  open_ = files_.open_for_reading(path, file_);
  ended_ = false;
  return open_;
}

bool TextReader::read(std::string& text) {
  text.clear();
  // A block may hold nothing but carriage returns: read on until text or the end.
  while (open_ && !ended_ && text.empty()) {
    char block[block_size];
    std::size_t count = 0;
    if (!files_.read(file_, block, sizeof block, count)) return false;
    ended_ = count == 0 || append_text(block, count, text);
  }
  return open_;
}
