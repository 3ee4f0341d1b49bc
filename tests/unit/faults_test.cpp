// A failure at every step of every file operation, one at a time: each run
// either completes or reports, and every file is then wholly old or wholly new.
#include <gtest/gtest.h>

#include <iostream>

#include "fake_platform.h"
#include "run/install_list.h"
#include "update/update_lists.h"

namespace {

using Step = MemoryFiles::Step;
const Step all_steps[] = {Step::open_for_reading, Step::read,  Step::look_up,   Step::open_for_writing,
                          Step::reserve,          Step::write, Step::cut,       Step::flush,
                          Step::replace,          Step::replace_busy};
const std::string root = "D:\\pods\\";

bool has_temporary_file(const MemoryFiles& files) {
  for (const auto& [name, contents] : files.files) {
    if (name.find(".tmp") != std::string::npos) return true;
  }
  return false;
}

// Calls `attempt` with the failure at each step and each occurrence of it
// until the operation makes no more calls of that step, with the files
// replaced whole and rewritten in place; returns the cases run.
template <typename Attempt>
int for_every_failure(const std::vector<std::string>& targets, Attempt attempt) {
  int cases = 0;
  for (bool in_place : {false, true})
  for (Step step : all_steps) {
    for (int occurrence = 1;; ++occurrence) {
      SCOPED_TRACE(::testing::Message() << "step " << static_cast<int>(step) << " call " << occurrence
                                        << (in_place ? " in place" : ""));
      FakePlatform fake;
      if (in_place) fake.files.in_place.insert(targets.begin(), targets.end());
      fake.files.fail_at(step, occurrence);
      attempt(fake);
      ++cases;
      EXPECT_FALSE(has_temporary_file(fake.files));
      EXPECT_EQ(fake.files.open_handles, 0);
      if (!fake.files.failure_injected) break;
    }
  }
  return cases;
}

TEST(Faults, InstallationLeavesPodIniWhole) {
  std::string list = "300\r\n";
  for (int i = 0; i < 300; ++i) list += "0\\" + std::string(200 + i, 'a' + i % 26) + ".pod\r\n";
  std::string installed = "300\r\n";
  for (int i = 0; i < 300; ++i) installed += root + "0\\" + std::string(200 + i, 'a' + i % 26) + ".pod\r\n";
  int cases = for_every_failure({"pod.ini"}, [&](FakePlatform& fake) {
    fake.files.read_size = 16 * 1024;
    fake.files.files[root + "3.ini"] = list;
    fake.files.files["pod.ini"] = "earlier";
    if (install_list(fake.platform, root, 3)) {
      EXPECT_EQ(fake.files.files["pod.ini"], installed);
      EXPECT_EQ(fake.console.output, "");
    } else {
      EXPECT_EQ(fake.files.files["pod.ini"], "earlier");
      EXPECT_TRUE(fake.console.output == "Error: cannot open ini file\n<key>" ||
                  fake.console.output == "Error: cannot write pod.ini file\n<key>")
          << fake.console.output;
    }
    EXPECT_EQ(fake.files.files[root + "3.ini"], list);
  });
  std::cout << "installation fault cases run: " << cases << "\n";
}

TEST(Faults, UpdateLeavesEveryListFileWhole) {
  std::vector<std::string> common;
  for (int i = 0; i < 90; ++i) common.push_back(std::string(240, 'c') + std::to_string(i) + ".pod");
  std::vector<std::string> list_files;
  for (int n = 1; n <= 7; ++n) list_files.push_back(root + std::to_string(n) + ".ini");
  int cases = for_every_failure(list_files, [&](FakePlatform& fake) {
    fake.pods.directories[root + "0"] = common;
    for (const std::string& name : list_files) fake.files.files[name] = "earlier";
    update_all_lists(fake.platform, root);
    int kept = 0;
    for (const std::string& name : list_files) {
      const std::string& contents = fake.files.files[name];
      if (contents == "earlier") {
        ++kept;
      } else {
        EXPECT_EQ(contents.substr(0, 4), "90\r\n");
        EXPECT_EQ(contents.size(), 4 + 90 * (2 + 240 + 6 + 2) - 10);
      }
    }
    std::string reports;
    for (int i = 0; i < kept; ++i) reports += "Error: cannot open file for writing\n<key>";
    EXPECT_EQ(fake.console.output, "Updating pod.ini files\n" + reports);
  });
  std::cout << "update fault cases run: " << cases << "\n";
}

}  // namespace
