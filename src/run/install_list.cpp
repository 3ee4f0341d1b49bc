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

// What became of the list file: read whole, failed itself, or left unread
// because pod.ini could not take it, when the list file is not at fault.
enum class ListFile { read, failed, left };

// Copies the list file to pod.ini; the result, whether pod.ini was written.
bool copy_list(Platform& platform, const std::string& root, const std::string& list_name, std::size_t& lines,
               ListFile& list_file) {
  list_file = ListFile::failed;
  TextReader list(platform.files);
  if (!list.open(list_name)) {
    report_error(platform, messages::cannot_open_ini);
    return false;
  }
  list_file = ListFile::left;
  TextWriter pod_ini(platform.files);
  if (!pod_ini.open(pod_ini_name)) {
    report_error(platform, messages::cannot_write_pod_ini);
    return false;
  }
  bool first_line = true;
  bool at_line_start = true;
  std::string text;
  for (;;) {
    if (!list.read(text)) {
      // pod.ini keeps what it held: the unfinished writer is dropped.
      list_file = ListFile::failed;
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
  list_file = ListFile::read;
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
  ListFile list_file = ListFile::failed;
  const bool written = copy_list(platform, root, list_name, lines, list_file);
  if (platform.verbose) {
    // Where pod.ini failed before the list was read whole, the list is not
    // named: a line for it would blame a file that did not fail.
    if (list_file != ListFile::left) {
      const bool read = list_file == ListFile::read;
      std::string line = "list " + std::to_string(list_number) + (read ? " read" : " not read");
      line += ", chosen by " + std::string(chosen_by);
      if (read) line += ", " + std::to_string(lines) + " lines";
      platform.console.write(line + ": " + list_name + "\n");
    }
    platform.console.write(std::string(written ? "pod.ini written: " : "pod.ini not written: ") +
                           platform.current_folder() + pod_ini_name + "\n");
  }
  return written;
}
