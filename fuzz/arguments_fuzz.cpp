// Any argument vector: the run ends with status 1 exactly when an argument is
// "/e" in either case and a failure was reported (the console waited for a
// key), 0 otherwise; it writes only its own messages and installs either
// nothing or one whole list.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/messages.h"
#include "fake_platform.h"
#include "run/run.h"

namespace {

// Strips every known message from the front of `output`; true when nothing else was left.
bool only_known_messages(std::string_view output) {
  const std::string_view known[] = {
      messages::usage_line_1,   messages::usage_line_2,       messages::usage_line_3,  messages::path_too_long,
      messages::cannot_open_ini, messages::cannot_write_pod_ini, messages::updating,    messages::pods_not_found,
      messages::too_many_pods,  messages::cannot_write_list,  "<key>"};
  while (!output.empty()) {
    bool matched = false;
    for (std::string_view message : known) {
      if (output.substr(0, message.size()) == message) {
        output.remove_prefix(message.size());
        matched = true;
        break;
      }
    }
    if (!matched) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  FakePlatform fake;
  FakePlatform::weekday = input.ConsumeIntegralInRange(0, 6);
  std::vector<std::string> arguments(input.ConsumeIntegralInRange(0, 8));
  for (std::string& argument : arguments) argument = input.ConsumeRandomLengthString(300);
  // A tree under the root that the last argument names, if it is a plain one.
  if (!arguments.empty()) {
    std::string root = arguments.back();
    if (root.empty() || root.back() != '\\') root += '\\';
    fake.pods.directories[root + "0"] = {"a.pod", "B.pod"};
    for (int n = 1; n <= 7; ++n) fake.files.files[root + std::to_string(n) + ".ini"] = std::to_string(n) + "\r\n";
  }
  const auto before = fake.files.files;
  const int status = run(arguments, fake.platform);
  const bool status_asked = std::any_of(arguments.begin(), arguments.end(),
                                       [](const std::string& argument) { return argument == "/e" || argument == "/E"; });
  const bool reported = fake.console.output.find("<key>") != std::string::npos;
  if (status != (status_asked && reported ? 1 : 0) || !only_known_messages(fake.console.output) ||
      fake.files.open_handles != 0) {
    std::abort();
  }
  for (const auto& [name, contents] : fake.files.files) {
    if (name.ends_with(".tmp")) std::abort();  // the in-memory files name each temporary file so
  }
  return 0;
}
