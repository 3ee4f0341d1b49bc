#pragma once

#include <string>
#include <vector>

enum class SearchResult {
  found,   // at least one pod
  none,    // the directory holds no pod, or does not exist
  failed,  // the directory could not be read
};

// Finds the pods of one directory: the files whose own name ends in ".pod",
// letter case ignored, and that are neither hidden nor system files.
class PodSearch {
 public:
  virtual ~PodSearch() = default;
  // Appends the names, as the file system holds them, in its own order.
  virtual SearchResult find_pods(const std::string& directory, std::vector<std::string>& names) = 0;
};

PodSearch& system_pod_search();

// True when the name itself ends in ".pod", letter case ignored.
bool has_pod_extension(const std::string& name);
