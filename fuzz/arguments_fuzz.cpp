// Any argument vector: the run ends with status 1 exactly when an argument is
// "/e" in either case and a failure was reported (the console waited for a
// key), 0 otherwise; it writes only its own messages, and with "/v" its lines
// about the files of this tree, and installs either nothing or one whole list.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/messages.h"
#include "fake_platform.h"
#include "run/run.h"

namespace {

// Strips a known message or line from the front of `output` and tries the
// rest, until nothing is left: true when that succeeds. `tried` marks the
// lengths of rest already found to fail.
bool only_known(std::string_view output, const std::vector<std::string>& known, std::vector<bool>& tried) {
  if (output.empty()) return true;
  if (tried[output.size()]) return false;
  tried[output.size()] = true;
  for (const std::string& line : known) {
    if (output.starts_with(line) && only_known(output.substr(line.size()), known, tried)) return true;
  }
  return false;
}

// The program's messages, and with "/v" every line it may write about the
// files of the tree under `root`: two common pods, list files that hold their
// own number until an update rewrites them, the day's list or one an argument chose.
std::vector<std::string> known_output(const std::vector<std::string>& arguments, const std::string& root,
                                      int weekday) {
  const std::string_view messages_and_key[] = {
      messages::usage_line_1,   messages::usage_line_2,       messages::usage_line_3,  messages::path_too_long,
      messages::cannot_open_ini, messages::cannot_write_pod_ini, messages::updating,    messages::pods_not_found,
      messages::too_many_pods,  messages::cannot_write_list,  "<key>"};
  std::vector<std::string> known(std::begin(messages_and_key), std::end(messages_and_key));
  auto verbose = [](const std::string& argument) { return argument == "/v" || argument == "/V"; };
  if (std::none_of(arguments.begin(), arguments.end(), verbose)) return known;
  for (int n = 1; n <= 7; ++n) {
    const std::string name = root + std::to_string(n) + ".ini\n";
    for (const char* outcome : {"written, 2 pods, 2 common: ", "unchanged, 2 pods, 2 common: ", "not written: "}) {
      known.push_back("list file " + std::string(outcome) + name);
    }
  }
  std::vector<std::pair<int, std::string>> choices = {
      {list_for_weekday(weekday), std::string("day ") + day_name(weekday)}};
  for (const std::string& argument : arguments) {
    if (int list = selected_list(argument)) choices.push_back({list, "argument \"" + argument + "\""});
  }
  for (const auto& [list, chosen_by] : choices) {
    const std::string head = "list " + std::to_string(list);
    const std::string name = root + std::to_string(list) + ".ini\n";
    known.push_back(head + " not read, chosen by " + chosen_by + ": " + name);
    known.push_back(head + " read, chosen by " + chosen_by + ", 1 lines: " + name);
    known.push_back(head + " read, chosen by " + chosen_by + ", 3 lines: " + name);
  }
  known.push_back("pod.ini written: C:\\run\\pod.ini\n");
  known.push_back("pod.ini not written: C:\\run\\pod.ini\n");
  return known;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  FakePlatform fake;
  FakePlatform::weekday = input.ConsumeIntegralInRange(0, 6);
  std::vector<std::string> arguments(input.ConsumeIntegralInRange(0, 8));
  for (std::string& argument : arguments) argument = input.ConsumeRandomLengthString(300);
  // A tree under the root that the last argument names, if it is a plain one.
  std::string root = arguments.empty() ? "" : arguments.back();
  if (root.empty() || root.back() != '\\') root += '\\';
  if (!arguments.empty()) {
    fake.pods.directories[root + "0"] = {"a.pod", "B.pod"};
    for (int n = 1; n <= 7; ++n) fake.files.files[root + std::to_string(n) + ".ini"] = std::to_string(n) + "\r\n";
  }
  const auto before = fake.files.files;
  const int status = run(arguments, fake.platform);
  const bool status_asked = std::any_of(arguments.begin(), arguments.end(),
                                       [](const std::string& argument) { return argument == "/e" || argument == "/E"; });
  const bool reported = fake.console.output.find("<key>") != std::string::npos;
  std::vector<bool> tried(fake.console.output.size() + 1);
  const std::vector<std::string> known = known_output(arguments, root, FakePlatform::weekday);
  if (status != (status_asked && reported ? 1 : 0) || !only_known(fake.console.output, known, tried) ||
      fake.files.open_handles != 0) {
    std::abort();
  }
  for (const auto& [name, contents] : fake.files.files) {
    if (name.ends_with(".tmp")) std::abort();  // the in-memory files name each temporary file so
  }
  return 0;
}
