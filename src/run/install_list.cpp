#include "run/install_list.h"

#include "common/console.h"
#include "common/error_report.h"
#include "common/messages.h"
#include "common/paths.h"
#include "common/platform.h"
#include "common/text_reader.h"
#include "common/text_writer.h"

namespace {

// Copies one block of the list, putting the root path before every line but
// the first, and counts the lines begun. Lines of any length stay whole.
void copy_with_root(std::string_view text, const std::string& root, bool& first_line,
                    bool& at_line_start, std::size_t& lines, TextWriter& out) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    if (at_line_start) ++lines;
    if (at_line_start && !first_line) out.write(root);
    out.write(text.substr(start, end - start));
    at_line_start = text[end - 1] == '\n';
    if (at_line_start) first_line = false;
    start = end;
  }
}

// Copies the list file to pod.ini. `list_read` tells whether all of the list
// file was read; `list_tried` is cleared where pod.ini could not be opened, so
// that the list was never read from; the result, whether pod.ini was written.
bool copy_list(Platform& platform, const std::string& root, const std::string& list_name, std::size_t& lines,
               bool& list_tried, bool& list_read) {
  TextReader list(platform.files);
  if (!list.open(list_name)) {
    report_error(platform, messages::cannot_open_ini);
    return false;
  }
  TextWriter pod_ini(platform.files);
  if (!pod_ini.open(pod_ini_name)) {
    list_tried = false;  // opened, but not a byte read
    report_error(platform, messages::cannot_write_pod_ini);
    return false;
  }
  bool first_line = true;
  bool at_line_start = true;
  std::string text;
  for (;;) {
    if (!list.read(text)) {
      // pod.ini keeps what it held: the unfinished writer is dropped.
      report_error(platform, messages::cannot_open_ini);
      return false;
    }
    if (text.empty()) break;
    copy_with_root(text, root, first_line, at_line_start, lines, pod_ini);
    // No use reading on once pod.ini cannot take the list: a full disk, or a
    // list past the largest that is written.
    if (pod_ini.failed()) {
      report_error(platform, messages::cannot_write_pod_ini);
      return false;
    }
  }
  list_read = true;
  if (!pod_ini.finish()) {
    report_error(platform, messages::cannot_write_pod_ini);
    return false;
  }
  return true;
}

}  // namespace

bool install_list(Platform& platform, const std::string& root, int list_number, std::string_view chosen_by) {
  const std::string list_name = list_file_name(root, list_number);
  std::size_t lines = 0;
  bool list_tried = true;
  bool list_read = false;
  const bool written = copy_list(platform, root, list_name, lines, list_tried, list_read);
  if (platform.verbose) {
    // Where pod.ini could not be opened the list was not tried: a line for it
    // would name a file that did not fail.
    if (list_tried) {
      std::string line = "list " + std::to_string(list_number) + (list_read ? " read" : " not read");
      line += ", chosen by " + std::string(chosen_by);
      if (list_read) line += ", " + std::to_string(lines) + " lines";
      platform.console.write(line + ": " + list_name + "\n");
    }
    platform.console.write(std::string(written ? "pod.ini written: " : "pod.ini not written: ") +
                           platform.current_folder() + pod_ini_name + "\n");
  }
  return written;
}
