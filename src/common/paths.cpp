#include "common/paths.h"

#include <algorithm>

std::size_t root_path_limit(std::size_t longest_path) {
  // The longest names composed from the root: a list file's temporary name, and
  // the search pattern of a pod directory.
  const std::size_t longest_tail =
      std::max(temporary_file_name(list_file_name("", last_list), 0).size(),
               pod_search_pattern(pod_directory("", common_directory)).size());
  return std::min(max_root_path_length, longest_path > longest_tail ? longest_path - longest_tail : 0);
}

std::string make_root_path(const std::string& last_argument) {
  std::string root = last_argument;
  if (root.empty() || root.back() != '\\') root += '\\';
  return root;
}

std::string list_file_name(const std::string& root, int list_number) {
  return root + std::to_string(list_number) + ".ini";
}

std::string pod_directory(const std::string& root, int directory_number) {
  return root + std::to_string(directory_number);
}

std::string pod_search_pattern(const std::string& directory) { return directory + "\\*.pod"; }

std::string temporary_file_name(const std::string& target, unsigned number) {
  static constexpr char hex_digits[] = "0123456789abcdef";
  std::string name = target + ".";
  for (int shift = 12; shift >= 0; shift -= 4) name += hex_digits[(number >> shift) & 0xf];
  return name + ".tmp";
}
