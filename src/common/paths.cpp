#include "common/paths.h"

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
