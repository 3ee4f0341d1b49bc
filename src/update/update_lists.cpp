#include "update/update_lists.h"

#include <algorithm>
#include <vector>

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

// Adds the pods of one directory to the table. False, after the report, when
// the table would grow past its limit or the directory could not be read.
bool add_pods(Platform& platform, const std::string& root, int directory_number,
              std::vector<PodEntry>& table, SearchResult& result) {
  std::vector<std::string> names;
  result = platform.pods.find_pods(pod_directory(root, directory_number), names);
  if (result == SearchResult::failed) {
    report_error(platform, messages::pods_not_found);
    return false;
  }
  for (std::string& name : names) {
    if (table.size() >= max_pods_per_list) {
      report_error(platform, messages::too_many_pods);
      return false;
    }
    table.push_back({std::move(name), directory_number});
  }
  return true;
}

bool write_list_file(Platform& platform, const std::string& path, const std::vector<PodEntry>& table) {
  std::string text = std::to_string(table.size()) + "\n";
  for (const PodEntry& pod : table) {
    text += std::to_string(pod.directory_number) + "\\" + pod.name + "\n";
  }
  // Most updates find the pods as they were: such a list file is left alone.
  return write_text_file_if_changed(platform.files, path, text) != FileWrite::not_written;
}

}  // namespace

bool is_update_option(const std::string& argument) {
  return argument.size() == 2 && argument[0] == '/' && (argument[1] == 'u' || argument[1] == 'U');
}

void update_all_lists(Platform& platform, const std::string& root) {
  platform.console.write(messages::updating);
  for (int list_number = first_list; list_number <= last_list; ++list_number) {
    update_list(platform, root, list_number);
  }
}

bool update_list(Platform& platform, const std::string& root, int list_number) {
  std::vector<PodEntry> table;
  SearchResult common = SearchResult::none;
  if (!add_pods(platform, root, common_directory, table, common)) return false;
  if (common == SearchResult::none) {
    report_error(platform, messages::pods_not_found);
    return false;
  }
  SearchResult numbered = SearchResult::none;
  if (!add_pods(platform, root, list_number, table, numbered)) return false;
  // Stable, so that a name found in both directories lists the common pod first.
  std::stable_sort(table.begin(), table.end(),
                   [](const PodEntry& a, const PodEntry& b) { return name_before(a.name, b.name); });
  if (!write_list_file(platform, list_file_name(root, list_number), table)) {
    report_error(platform, messages::cannot_write_list);
    return false;
  }
  return true;
}
