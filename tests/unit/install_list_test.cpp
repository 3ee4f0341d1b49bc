#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/current_folder.h"
#include "fake_platform.h"
#include "run/install_list.h"

namespace {

using Step = MemoryFiles::Step;
const std::string root = "D:\\pods\\";
const std::string list_3 = "D:\\pods\\3.ini";

TEST(InstallList, CopiesTheFirstLineAndPutsTheRootBeforeEveryOther) {
  const std::string long_name(85, 'n');
  const std::string huge_name(100000, 'h');
  struct Case {
    std::string list, pod_ini;
  } cases[] = {
      {"2\r\n0\\base.pod\r\n3\\extra.pod\r\n", "2\r\nD:\\pods\\0\\base.pod\r\nD:\\pods\\3\\extra.pod\r\n"},
      {"0\r\n", "0\r\n"},
      {"", ""},
      {"1\r\n0\\last.pod", "1\r\nD:\\pods\\0\\last.pod"},
      {"1\r\n\r\n0\\a.pod\r\n", "1\r\nD:\\pods\\\r\nD:\\pods\\0\\a.pod\r\n"},
      {"1\r\n0\\a.pod\r\n\x1a" "0\\b.pod\r\n", "1\r\nD:\\pods\\0\\a.pod\r\n"},
      {"1\n0\\lf.pod\n", "1\r\nD:\\pods\\0\\lf.pod\r\n"},
      {"1\r\n0\\" + long_name + "\r\n", "1\r\nD:\\pods\\0\\" + long_name + "\r\n"},
      {"1\r\n0\\" + huge_name + "\r\n", "1\r\nD:\\pods\\0\\" + huge_name + "\r\n"},
      {long_name + "\r\nx\r\n", long_name + "\r\nD:\\pods\\x\r\n"},
      {std::string("1\r\n0\\n\0l.pod\r\n", 14), std::string("1\r\nD:\\pods\\0\\n\0l.pod\r\n", 22)},
  };
  for (const Case& c : cases) {
    for (std::size_t read_size : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
      FakePlatform fake;
      fake.files.read_size = read_size;
      fake.files.files[list_3] = c.list;
      fake.files.files["pod.ini"] = "earlier";
      EXPECT_TRUE(install_list(fake.platform, root, 3));
      EXPECT_EQ(fake.files.files["pod.ini"], c.pod_ini) << c.list.substr(0, 40);
      EXPECT_EQ(fake.console.output, "");
      EXPECT_EQ(fake.files.files.size(), 2u);
    }
  }
}

TEST(InstallList, ReportsFailuresAndKeepsTheEarlierPodIni) {
  struct Case {
    Step step;
    bool list_exists;
    std::string message;
  } cases[] = {
      {Step::open_for_reading, false, "Error: cannot open ini file\n<key>"},
      {Step::open_for_reading, true, "Error: cannot open ini file\n<key>"},
      {Step::read, true, "Error: cannot open ini file\n<key>"},
      {Step::open_for_writing, true, "Error: cannot write pod.ini file\n<key>"},
      {Step::write, true, "Error: cannot write pod.ini file\n<key>"},
      {Step::flush, true, "Error: cannot write pod.ini file\n<key>"},
      {Step::replace, true, "Error: cannot write pod.ini file\n<key>"},
  };
  for (const Case& c : cases) for (bool verbose : {false, true}) {
    FakePlatform fake;
    fake.platform.verbose = verbose;
    if (c.list_exists) fake.files.files[list_3] = "1\r\n0\\a.pod\r\n";
    fake.files.files["pod.ini"] = "earlier";
    const auto before = fake.files.files;
    fake.files.fail_at(c.step);
    EXPECT_FALSE(install_list(fake.platform, root, 3, "day Monday"));
    // "/v": the list was read whole only where writing pod.ini failed after opening it; not tried where it was not opened.
    const bool read = c.step == Step::write || c.step == Step::flush || c.step == Step::replace;
    const std::string told = (c.step == Step::open_for_writing ? "" : (read ? "list 3 read, chosen by day Monday, 2 lines: "
                              : "list 3 not read, chosen by day Monday: ") + list_3 + "\n") + "pod.ini not written: C:\\run\\pod.ini\n";
    EXPECT_EQ(fake.console.output, c.message + (verbose ? told : "")) << static_cast<int>(c.step);
    EXPECT_EQ(fake.files.files, before) << static_cast<int>(c.step);
    EXPECT_EQ(fake.files.open_handles, 0);
  }
}

TEST(InstallList, RefusesAPodIniThatMayNotBeWritten) {
  FakePlatform fake;
  fake.files.files[list_3] = "0\r\n";
  fake.files.files["pod.ini"] = "locked";
  fake.files.read_only.insert("pod.ini");
  EXPECT_FALSE(install_list(fake.platform, root, 3));
  EXPECT_EQ(fake.console.output, "Error: cannot write pod.ini file\n<key>");
  EXPECT_EQ(fake.files.files["pod.ini"], "locked");
}

// "/v" names pod.ini by the whole current folder, as the platform tells it,
// past the 255 characters a first try may hold.
TEST(InstallList, TellsPodIniInALongCurrentFolderByItsWholeName) {
  namespace fs = std::filesystem;
  std::string top = (fs::temp_directory_path() / "quorvantis-unit-XXXXXX").string();
  ASSERT_NE(mkdtemp(top.data()), nullptr);
  const fs::path folder = fs::canonical(top) / std::string(150, 'l') / std::string(150, 'm'), before = fs::current_path();
  fs::create_directories(folder);
  fs::current_path(folder);
  FakePlatform fake;
  fake.platform.current_folder = current_folder;
  fake.platform.verbose = true;
  fake.files.files[list_3] = "0\r\n";
  EXPECT_TRUE(install_list(fake.platform, root, 3, "day Monday"));
  fs::current_path(before);
  fs::remove_all(top);
  EXPECT_EQ(fake.console.output, "list 3 read, chosen by day Monday, 1 lines: " + list_3 + "\npod.ini written: " +
                                     folder.string() + "/pod.ini\n");
}

}  // namespace
