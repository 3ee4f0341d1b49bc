#include "update/update_lists.h"

#include <algorithm>
#include <vector>

#include "common/arguments.h"
#include "common/console.h"
#include "common/error_report.h"
#include "common/messages.h"
#include "common/paths.h"
#include "common/platform.h"
#include "common/pod_search.h"
#include "common/text_writer.h"
#include "update/name_order.h"

namespace {

struct PodEntry {
  std::string name;
  int directory_number;
};

// Adds the pods of one directory to the table. The message of a failure: the
// table would grow past its limit, the directory could not be read, or it is
// the common one and holds no pods; empty when none.
std::string_view add_pods(Platform& platform, const std::string& root, int directory_number,
                          std::vector<PodEntry>& table) {
  std::vector<std::string> names;
  const SearchResult result = platform.pods.find_pods(pod_directory(root, directory_number), names);
  if (result == SearchResult::failed || (result == SearchResult::none && directory_number == common_directory)) {
    return messages::pods_not_found;
  }
  for (std::string& name : names) {
    if (table.size() >= max_pods_per_list) return messages::too_many_pods;
    table.push_back({std::move(name), directory_number});
  }
  return {};
}

FileWrite write_list_file(Platform& platform, const std::string& path, const std::vector<PodEntry>& table) {
  std::string text = std::to_string(table.size()) + "\n";
  for (const PodEntry& pod : table) {
    text += std::to_string(pod.directory_number) + "\\" + pod.name + "\n";
  }
  // Most updates find the pods as they were: such a list file is left alone.
  return write_text_file_if_changed(platform.files, path, text);
}

// The line of "/v" for one list file, on a line of its own also after a
// message that has no line end.
void tell_list_file(Platform& platform, std::string_view failure, FileWrite outcome, std::size_t pods,
                    std::size_t common_pods, const std::string& path) {
  std::string line = failure.empty() || failure.ends_with('\n') ? "list file " : "\nlist file ";
  if (outcome == FileWrite::not_written) {
    line += "not written";
  } else {
    line += outcome == FileWrite::written ? "written, " : "unchanged, ";
    line += std::to_string(pods) + " pods, " + std::to_string(common_pods) + " common";
  }
  platform.console.write(line + ": " + path + "\n");
}

}  // namespace

bool is_update_option(const std::string& argument) { return is_letter_option(argument, 'u'); }

void update_all_lists(Platform& platform, const std::string& root) {
  platform.console.write(messages::updating);
  for (int list_number = first_list; list_number <= last_list; ++list_number) {
    update_list(platform, root, list_number);
  }
}

bool update_list(Platform& platform, const std::string& root, int list_number) {
  const std::string path = list_file_name(root, list_number);
  std::vector<PodEntry> table;
  std::string_view failure = add_pods(platform, root, common_directory, table);
  const std::size_t common_pods = table.size();
  if (failure.empty()) failure = add_pods(platform, root, list_number, table);
  FileWrite outcome = FileWrite::not_written;
  if (failure.empty()) {
    // Stable, so that a name found in both directories lists the common pod first.
    std::stable_sort(table.begin(), table.end(),
                     [](const PodEntry& a, const PodEntry& b) { return name_before(a.name, b.name); });
    outcome = write_list_file(platform, path, table);
    if (outcome == FileWrite::not_written) failure = messages::cannot_write_list;
  }
  if (!failure.empty()) report_error(platform, failure);
  if (platform.verbose) tell_list_file(platform, failure, outcome, table.size(), common_pods, path);
  return failure.empty();
}
