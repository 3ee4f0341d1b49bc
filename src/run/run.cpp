#include "run/run.h"

#include <algorithm>

#include "common/arguments.h"
#include "common/console.h"
#include "common/error_report.h"
#include "common/files.h"
#include "common/messages.h"
#include "common/paths.h"
#include "common/platform.h"
#include "run/install_list.h"
#include "update/update_lists.h"

namespace {

void write_usage(Console& console) {
  console.write(messages::usage_line_1);
  console.write(messages::usage_line_2);
  console.write(messages::usage_line_3);
}

}  // namespace

int list_for_weekday(int weekday) { return weekday == 0 ? 7 : weekday; }

const char* day_name(int weekday) {
  static constexpr const char* names[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
  return names[weekday];
}

int selected_list(const std::string& argument) {
  if (argument.size() < 2 || argument[1] < '1' || argument[1] > '7') return 0;
  return argument[1] - '0';
}

bool is_failure_status_option(const std::string& argument) { return is_letter_option(argument, 'e'); }

bool is_verbose_option(const std::string& argument) { return is_letter_option(argument, 'v'); }

int run(const std::vector<std::string>& arguments, Platform& platform) {
  if (arguments.empty()) {
    write_usage(platform.console);
    return 0;
  }
  // Asked of all arguments at once: every report of the run counts, also one
  // made before "/e" is reached.
  const bool status_tells_failure = std::any_of(arguments.begin(), arguments.end(), is_failure_status_option);
  auto exit_status = [&] { return status_tells_failure && platform.failures_reported > 0 ? 1 : 0; };
  platform.verbose = std::any_of(arguments.begin(), arguments.end(), is_verbose_option);
  if (platform.verbose) platform.console.write(platform.files.verbose_note());
  const int weekday = platform.weekday();
  int list_number = list_for_weekday(weekday);
  std::string chosen_by = std::string("day ") + day_name(weekday);
  const std::string root = make_root_path(arguments.back());
  if (root.size() > root_path_limit(platform.files.longest_path())) {
    report_error(platform, messages::path_too_long);
    return exit_status();
  }
  for (const std::string& argument : arguments) {
    if (argument == "/?") {
      write_usage(platform.console);
      return exit_status();
    }
    if (is_update_option(argument)) update_all_lists(platform, root);
    if (int selected = selected_list(argument)) {
      list_number = selected;
      chosen_by = "argument \"" + argument + "\"";
    }
  }
  install_list(platform, root, list_number, chosen_by);
  return exit_status();
}
