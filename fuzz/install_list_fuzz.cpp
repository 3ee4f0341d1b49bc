// Any bytes as a list file: pod.ini must be what a plain model of the text
// rules says, whatever the file holds and however the reads split it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fake_platform.h"
#include "run/install_list.h"

namespace {

const std::string root = "C:\\pods\\";

// CR dropped, Ctrl-Z ends the text, the root before every line after the
// first, every line end written as CR LF.
std::string expected_pod_ini(const std::string& list) {
  std::string text;
  for (char c : list) {
    if (c == 26) break;
    if (c != '\r') text += c;
  }
  std::string out;
  bool first_line = true, line_start = true;
  for (char c : text) {
    if (line_start && !first_line) out += root;
    line_start = false;
    if (c == '\n') {
      out += "\r\n";
      line_start = true;
      first_line = false;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  FakePlatform fake;
  fake.files.read_size = data[0] == 0 ? 1 << 20 : data[0];
  const std::string list(reinterpret_cast<const char*>(data) + 1, size - 1);
  fake.files.files[root + "3.ini"] = list;
  if (!install_list(fake.platform, root, 3) || fake.files.files["pod.ini"] != expected_pod_ini(list) ||
      !fake.console.output.empty() || fake.files.files.size() != 2 || fake.files.open_handles != 0) {
    std::abort();
  }
  return 0;
}
