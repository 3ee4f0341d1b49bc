#include "run/install_list.h"

#include "common/error_report.h"
#include "common/messages.h"
#include "common/paths.h"
#include "common/platform.h"
#include "common/text_reader.h"
#include "common/text_writer.h"

namespace {

// Copies one block of the list, putting the root path before every line but
// the first. Lines of any length stay whole.
void copy_with_root(std::string_view text, const std::string& root, bool& first_line,
                    bool& at_line_start, TextWriter& out) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    if (at_line_start && !first_line) out.write(root);
    out.write(text.substr(start, end - start));
    at_line_start = text[end - 1] == '\n';
    if (at_line_start) first_line = false;
    start = end;
  }
}

}  // namespace

bool install_list(Platform& platform, const std::string& root, int list_number) {
  TextReader list(platform.files);
  if (!list.open(list_file_name(root, list_number))) {
    report_error(platform, messages::cannot_open_ini);
    return false;
  }
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
      report_error(platform, messages::cannot_open_ini);
      return false;
    }
    if (text.empty()) break;
    copy_with_root(text, root, first_line, at_line_start, pod_ini);
  }
  if (!pod_ini.finish()) {
    report_error(platform, messages::cannot_write_pod_ini);
    return false;
  }
  return true;
}
