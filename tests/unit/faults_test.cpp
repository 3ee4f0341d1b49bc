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
// replaced whole, rewritten in place, and rewritten in place where this user
// may not read them; returns the cases run. Every failure but a target busy
// for one try is to fail the operation: `failed` tells attempt whether this one does.
template <typename Attempt>
int for_every_failure(const std::vector<std::string>& targets, Attempt attempt) {
  int cases = 0;
  for (int mode : {0, 1, 2})
  for (Step step : all_steps) {
    for (int occurrence = 1;; ++occurrence) {
      SCOPED_TRACE(::testing::Message() << "step " << static_cast<int>(step) << " call " << occurrence
                                        << (mode ? " in place" : "") << (mode == 2 ? ", not readable" : ""));
      FakePlatform fake;
      if (mode) fake.files.in_place.insert(targets.begin(), targets.end());
      if (mode == 2) fake.files.write_only.insert(targets.begin(), targets.end());
      fake.files.fail_at(step, occurrence);
      attempt(fake, [&] { return fake.files.failure_injected && step != Step::replace_busy; });
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
  int cases = for_every_failure({"pod.ini"}, [&](FakePlatform& fake, auto failed) {
    fake.files.read_size = 16 * 1024;
    fake.files.files[root + "3.ini"] = list;
    fake.files.files["pod.ini"] = "earlier";
    const bool written = install_list(fake.platform, root, 3);
    const std::string& now = fake.files.files["pod.ini"];
    EXPECT_EQ(written, !failed());
    if (written) {
      EXPECT_EQ(now, installed);
      EXPECT_EQ(fake.console.output, "");
    } else {
      // Not readable, a file written before a failure cannot be written back: it is then new.
      EXPECT_TRUE(now == "earlier" || (now == installed && !fake.files.write_only.empty())) << now.size();
      EXPECT_TRUE(fake.console.output == "Error: cannot open ini file\n<key>" ||
                  fake.console.output == "Error: cannot write pod.ini file\n<key>")
          << fake.console.output;
    }
    EXPECT_EQ(fake.files.files[root + "3.ini"], list);
  });
  std::cout << "installation fault cases run: " << cases << "\n";
}

// In place, a text past what is held in memory (64 MiB) is not written: the
// old file stays whole, and the failure is reported.
TEST(Faults, InPlaceATextPastTheLimitKeepsTheOldFile) {
  FakePlatform fake;
  fake.files.read_size = 1 << 20;
  fake.files.in_place.insert("pod.ini");
  std::string& list = fake.files.files[root + "3.ini"] = "1\r\n0\\";
  list.append(64 << 20, 'p').append(".pod\r\n");
  fake.files.files["pod.ini"] = "earlier";
  EXPECT_FALSE(install_list(fake.platform, root, 3));
  EXPECT_EQ(fake.console.output, "Error: cannot write pod.ini file\n<key>");
  EXPECT_EQ(fake.files.files["pod.ini"], "earlier");
}

TEST(Faults, UpdateLeavesEveryListFileWhole) {
  std::vector<std::string> common;
  for (int i = 0; i < 90; ++i) common.push_back(std::string(240, 'c') + std::to_string(i) + ".pod");
  std::vector<std::string> list_files;
  for (int n = 1; n <= 7; ++n) list_files.push_back(root + std::to_string(n) + ".ini");
  int cases = for_every_failure(list_files, [&](FakePlatform& fake, auto failed) {
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
    EXPECT_TRUE(kept == failed() || (kept == 0 && !fake.files.write_only.empty())) << kept;
    EXPECT_EQ(fake.console.output, "Updating pod.ini files\n" +
                                       std::string(failed() ? "Error: cannot open file for writing\n<key>" : ""));
  });
  std::cout << "update fault cases run: " << cases << "\n";
}

}  // namespace
