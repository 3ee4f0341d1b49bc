#include "update/name_order.h"

namespace {

unsigned char folded(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

}  // namespace

bool name_before(std::string_view left, std::string_view right) {
  std::size_t common = left.size() < right.size() ? left.size() : right.size();
  for (std::size_t i = 0; i < common; ++i) {
    unsigned char l = folded(left[i]);
    unsigned char r = folded(right[i]);
    if (l != r) return l < r;
  }
  return left.size() < right.size();
}
