#include <gtest/gtest.h>

#include "fake_platform.h"
#include "run/run.h"

namespace {

const std::string usage =
    "QUORVANTIS </option> \"Path to pod sub directories\"\n"
    "\t/u\tUpdate pod directories.\n"
    "\t/n\tWhere n = directory number\n";

// Every list file of the root D:\pods names its own number, so pod.ini tells
// which list was installed.
void give_lists(FakePlatform& fake, const std::string& root) {
  for (int n = 0; n <= 7; ++n) fake.files.files[root + std::to_string(n) + ".ini"] = std::to_string(n) + "\r\n";
}

TEST(Run, ExaminesTheArgumentsInOrder) {
  struct Case {
    std::vector<std::string> arguments;
    std::string output;
    std::string pod_ini;  // "" when none is written
    int updates;          // times the common directory was searched, 7 per "/u"
  } cases[] = {
      {{}, usage, "", 0},
      {{"/?"}, usage, "", 0},
      {{"/?", "/u", "D:\\pods"}, usage, "", 0},
      {{"/u", "/?", "D:\\pods"}, "Updating pod.ini files\n" + usage, "", 7},
      {{"/3", "D:\\pods"}, "", "3\r\n", 0},
      {{"/3", "/5", "D:\\pods"}, "", "5\r\n", 0},
      {{"-3", "D:\\pods"}, "", "3\r\n", 0},
      {{"x7", "D:\\pods\\"}, "", "7\r\n", 0},
      {{"/8", "D:\\pods"}, "", "2\r\n", 0},
      {{"/0", "D:\\pods"}, "", "2\r\n", 0},
      {{"/", "D:\\pods"}, "", "2\r\n", 0},
      {{"D:\\pods"}, "", "2\r\n", 0},
      {{"/U", "/u", "/4", "D:\\pods"}, "Updating pod.ini files\nUpdating pod.ini files\n",
       "1\r\nD:\\pods\\0\\a.pod\r\n", 14},
      {{"/uu", "D:\\pods"}, "", "2\r\n", 0},
      {{"/?x", "D:\\pods"}, "", "2\r\n", 0},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    FakePlatform::weekday = 2;
    give_lists(fake, "D:\\pods\\");
    fake.pods.directories["D:\\pods\\0"] = {"a.pod"};
    EXPECT_EQ(run(c.arguments, fake.platform), 0);
    std::string trace = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(fake.console.output, c.output) << trace;
    EXPECT_EQ(fake.files.files.count("pod.ini") ? fake.files.files["pod.ini"] : "", c.pod_ini) << trace;
    EXPECT_EQ(std::count(fake.pods.searched.begin(), fake.pods.searched.end(), "D:\\pods\\0"), c.updates) << trace;
  }
}

TEST(Run, TheRootPathIsTheLastArgumentWithOneBackslash) {
  struct Case {
    std::string argument, root;
  } cases[] = {
      {"D:\\pods", "D:\\pods\\"}, {"D:\\pods\\", "D:\\pods\\"}, {"D:/pods/", "D:/pods/\\"}, {"/u", "/u\\"}, {"", "\\"},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    give_lists(fake, c.root);
    run({"/6", c.argument}, fake.platform);
    EXPECT_EQ(fake.files.files["pod.ini"], "6\r\n") << c.argument;
  }
}

// 255 characters, or where paths hold only 259 (Windows), 245: room for
// "7.ini.xxxx.tmp" behind the root.
TEST(Run, RefusesARootPathPastItsLimit) {
  for (auto [longest_path, limit] : {std::pair<std::size_t, std::size_t>{4095, 255}, {259, 245}}) {
    for (std::size_t length : {limit - 1, limit, limit + 1}) {
      for (const char* end : {"x", "\\"}) {
        FakePlatform fake;
        fake.files.longest = longest_path;
        std::string argument = std::string(length - 1, 'p') + end;
        give_lists(fake, argument.back() == '\\' ? argument : argument + "\\");
        run({"/?", "/u", argument}, fake.platform);
        const bool fits = length + (argument.back() == '\\' ? 0 : 1) <= limit;
        EXPECT_EQ(fake.console.output, fits ? usage : "Error: path to pods is too long\n<key>") << length << end;
        EXPECT_TRUE(fake.pods.searched.empty());
      }
    }
  }
}

TEST(Run, EachDayOfTheWeekInstallsItsList) {
  const int expected[7] = {7, 1, 2, 3, 4, 5, 6};
  for (int day = 0; day < 7; ++day) {
    EXPECT_EQ(list_for_weekday(day), expected[day]);
    FakePlatform fake;
    FakePlatform::weekday = day;
    give_lists(fake, "D:\\pods\\");
    run({"D:\\pods"}, fake.platform);
    EXPECT_EQ(fake.files.files["pod.ini"], std::to_string(expected[day]) + "\r\n") << day;
  }
}

// Failures end with status 0, unless "/e" asks for 1; the output is the same either way.
TEST(Run, FailuresEndWithStatusZeroUnlessEAsksOtherwise) {
  std::string reports;
  for (int i = 0; i < 7; ++i) reports += "Error: path to pods not found\n<key>";
  const std::string failed_update = "Updating pod.ini files\n" + reports;
  struct Case {
    std::vector<std::string> arguments;
    std::string output;
    int status;
  } cases[] = {
      {{"/u", "/3", "D:\\none"}, failed_update + "Error: cannot open ini file\n<key>", 0},
      {{"/u", "/3", "/E", "D:\\none"}, failed_update + "Error: cannot open ini file\n<key>", 1},
      {{"/e", "/3", "D:\\pods"}, "", 0},
      {{"/e", "/?"}, usage, 0},
      {{"/u", "/?", "/e"}, failed_update + usage, 1},
      {{"/e", std::string(300, 'p')}, "Error: path to pods is too long\n<key>", 1},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    give_lists(fake, "D:\\pods\\");
    EXPECT_EQ(run(c.arguments, fake.platform), c.status) << ::testing::PrintToString(c.arguments);
    EXPECT_EQ(fake.console.output, c.output) << ::testing::PrintToString(c.arguments);
  }
}

}  // namespace
