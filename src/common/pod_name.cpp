#include "common/pod_search.h"

bool has_pod_extension(const std::string& name) {
  static constexpr char extension[] = ".POD";
  constexpr std::size_t length = sizeof extension - 1;
  if (name.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    char c = name[name.size() - length + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != extension[i]) return false;
  }
  return true;
}
