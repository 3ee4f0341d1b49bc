#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fake_platform.h"
#include "update/name_order.h"
#include "update/update_lists.h"

namespace {

using Step = MemoryFiles::Step;
const std::string root = "D:\\pods\\";

TEST(NameOrder, FoldsAsciiLettersAndComparesUnsignedBytes) {
  // Each name sorts strictly before the next.
  const std::vector<std::string> ordered = {
      "0.pod", "9.pod", "a-b.pod", "a.pod", "ab", "abc", "B.pod", "c.pod", "Z.pod", "_a.pod", "\x7f", "\x80.pod", "\xe9.pod",
  };
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    for (std::size_t j = 0; j < ordered.size(); ++j) {
      EXPECT_EQ(name_before(ordered[i], ordered[j]), i < j) << ordered[i] << " / " << ordered[j];
    }
  }
  // Letters above the ASCII range keep their case: é (0xe9) and É (0xc9) differ.
  EXPECT_TRUE(name_before("\xc9", "\xe9"));
  EXPECT_FALSE(name_before("Map.POD", "mAP.pod"));
  EXPECT_FALSE(name_before("mAP.pod", "Map.POD"));
}

std::string list_file(FakePlatform& fake, int n) { return fake.files.files[root + std::to_string(n) + ".ini"]; }

TEST(UpdateList, WritesTheCommonAndNumberedPodsInNameOrder) {
  FakePlatform fake;
  fake.pods.directories[root + "0"] = {"maps.pod", "base.pod", "Same.pod"};
  fake.pods.directories[root + "3"] = {"extra.pod", "same.POD", "_x.pod"};
  EXPECT_TRUE(update_list(fake.platform, root, 3));
  EXPECT_EQ(list_file(fake, 3),
            "6\r\n0\\base.pod\r\n3\\extra.pod\r\n0\\maps.pod\r\n0\\Same.pod\r\n3\\same.POD\r\n3\\_x.pod\r\n");
  EXPECT_TRUE(update_list(fake.platform, root, 5));
  EXPECT_EQ(list_file(fake, 5), "3\r\n0\\base.pod\r\n0\\maps.pod\r\n0\\Same.pod\r\n");
  EXPECT_EQ(fake.console.output, "");
}

TEST(UpdateList, HoldsAHundredPodsAndRefusesMore) {
  std::vector<std::string> common, numbered;
  for (int i = 0; i < 60; ++i) common.push_back("c" + std::to_string(i) + ".pod");
  for (int i = 0; i < 41; ++i) numbered.push_back("n" + std::to_string(i) + ".pod");
  FakePlatform fake;
  fake.pods.directories[root + "0"] = common;
  fake.pods.directories[root + "1"] = numbered;
  fake.pods.directories[root + "2"] = std::vector<std::string>(numbered.begin(), numbered.end() - 1);
  fake.files.files[root + "1.ini"] = "earlier";
  EXPECT_FALSE(update_list(fake.platform, root, 1));
  EXPECT_EQ(fake.console.output, "Maximum number of PODS has been exceeded<key>");
  EXPECT_EQ(list_file(fake, 1), "earlier");
  EXPECT_TRUE(update_list(fake.platform, root, 2));
  const std::string full = list_file(fake, 2);
  EXPECT_EQ(full.substr(0, 5), "100\r\n");
  EXPECT_EQ(std::count(full.begin(), full.end(), '\n'), 101);
}

TEST(UpdateList, ReportsAndKeepsTheEarlierListFile) {
  struct Case {
    const char* what;
    std::vector<std::string> common;
    bool numbered_unreadable;
    Step failing_step;
    std::string message;
  } cases[] = {
      {"no common pods", {}, false, Step::look_up, "Error: path to pods not found\n<key>"},
      {"numbered unreadable", {"a.pod"}, true, Step::look_up, "Error: path to pods not found\n<key>"},
      {"list refused", {"a.pod"}, false, Step::look_up, "Error: cannot open file for writing\n<key>"},
      {"open fails", {"a.pod"}, false, Step::open_for_writing, "Error: cannot open file for writing\n<key>"},
      {"write fails", {"a.pod"}, false, Step::write, "Error: cannot open file for writing\n<key>"},
      {"flush fails", {"a.pod"}, false, Step::flush, "Error: cannot open file for writing\n<key>"},
      {"replace fails", {"a.pod"}, false, Step::replace, "Error: cannot open file for writing\n<key>"},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.pods.directories[root + "0"] = c.common;
    fake.pods.directories[root + "4"] = {"four.pod"};
    if (c.numbered_unreadable) fake.pods.unreadable.insert(root + "4");
    fake.files.files[root + "4.ini"] = "earlier";
    fake.files.fail_at(c.failing_step);
    EXPECT_FALSE(update_list(fake.platform, root, 4)) << c.what;
    EXPECT_EQ(fake.console.output, c.message) << c.what;
    EXPECT_EQ(fake.files.files, (std::map<std::string, std::string>{{root + "4.ini", "earlier"}})) << c.what;
  }
}

TEST(UpdateAllLists, OneFailingListDoesNotStopTheOthers) {
  FakePlatform fake;
  fake.pods.directories[root + "0"] = {"a.pod"};
  fake.files.fail_at(Step::open_for_writing, 3);
  update_all_lists(fake.platform, root);
  EXPECT_EQ(fake.console.output, "Updating pod.ini files\nError: cannot open file for writing\n<key>");
  for (int n = 1; n <= 7; ++n) EXPECT_EQ(list_file(fake, n), n == 3 ? "" : "1\r\n0\\a.pod\r\n") << n;
  EXPECT_EQ(fake.pods.searched.size(), 14u);
}

}  // namespace

namespace {

// A list file that already holds the new list byte for byte is not written again.
TEST(UpdateList, LeavesAnUnchangedListFileAlone) {
  struct Case {
    std::string earlier;
    bool read_only;
    std::string output;
    std::string after;
  } cases[] = {
      {"1\r\n0\\a.pod\r\n", false, "", "1\r\n0\\a.pod\r\n"},
      {"1\r\n0\\a.pod\r\n", true, "Error: cannot open file for writing\n<key>", "1\r\n0\\a.pod\r\n"},
      {"1\n0\\a.pod\n", false, "", "1\r\n0\\a.pod\r\n"},
      {"1\r\n0\\a.pod\r\nmore", false, "", "1\r\n0\\a.pod\r\n"},
      {"1\r\n0\\a.po", false, "", "1\r\n0\\a.pod\r\n"},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.pods.directories[root + "0"] = {"a.pod"};
    fake.files.files[root + "1.ini"] = c.earlier;
    if (c.read_only) fake.files.read_only.insert(root + "1.ini");
    const bool unchanged = c.earlier == c.after;
    if (unchanged) fake.files.fail_at(MemoryFiles::Step::open_for_writing);  // proves that nothing is written
    update_list(fake.platform, root, 1);
    EXPECT_EQ(fake.console.output, c.output) << c.earlier;
    EXPECT_EQ(list_file(fake, 1), c.after) << c.earlier;
    EXPECT_EQ(fake.files.failure_injected, false) << c.earlier;
    // Compared through the file judged, never opened again by its name.
    EXPECT_TRUE(fake.files.opened_for_reading.empty()) << c.earlier;
  }
}

}  // namespace
