#include "common/text_reader.h"

#include <string_view>

namespace {
constexpr char carriage_return = '\r';
constexpr char end_of_text = 26;  // Ctrl-Z
constexpr std::size_t block_size = 64 * 1024;
}  // namespace

bool append_text(const char* bytes, std::size_t count, std::string& text) {
  const std::string_view raw(bytes, count);
  const std::size_t end = raw.find(end_of_text);
  const std::string_view kept = raw.substr(0, end);
  for (std::size_t start = 0; start < kept.size();) {
    std::size_t cr = kept.find(carriage_return, start);
    if (cr == std::string_view::npos) cr = kept.size();
    text += kept.substr(start, cr - start);
    start = cr + 1;
  }
  return end != std::string_view::npos;
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
    block_.resize(block_size);
    std::size_t count = 0;
    if (!files_.read(file_, block_.data(), block_.size(), count)) return false;
    ended_ = count == 0 || append_text(block_.data(), count, text);
  }
  return open_;
}
