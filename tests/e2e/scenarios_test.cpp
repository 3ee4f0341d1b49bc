// One table of whole runs, played against the native program and against the
// Windows program under Wine: arguments in, console output and file bytes out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>

#include "harness.h"

namespace {

enum class Only { both, native, windows };
const std::optional<std::string> absent;

struct Scenario {
  std::string name;
  std::vector<std::pair<std::string, std::string>> given;  // a name ending in "/" is a directory
  std::vector<std::string> arguments;
  std::string output;
  std::vector<std::pair<std::string, std::optional<std::string>>> expected;
  int status = 0;  // the exit status
  Only only = Only::both;
  std::function<void(const Target&, const std::string& directory)> prepare = nullptr;
  std::size_t root_length = 0;  // the root path's, backslash included: "pods/" then lies deeper
  bool typed_at_cmd = false;    // the arguments as typed at cmd, which starts the program
  std::function<void(const Target&, const std::string& directory)> check = nullptr;  // after the run
  std::vector<std::string> launcher = {};  // the program started by this command
  std::string root_folder = "";            // the root is this folder below "pods/"
};

const std::string usage =
    "QUORVANTIS </option> \"Path to pod sub directories\"\n"
    "\t/u\tUpdate pod directories.\n"
    "\t/n\tWhere n = directory number\n";
const std::string updating = "Updating pod.ini files\n";
const std::string not_found = "Error: path to pods not found\n";
const std::string no_ini = "Error: cannot open ini file\n";
const std::string no_pod_ini = "Error: cannot write pod.ini file\n";

// The seven list files, each holding nothing but its own number.
std::vector<std::pair<std::string, std::string>> numbered_lists() {
  std::vector<std::pair<std::string, std::string>> lists;
  for (int n = 1; n <= 7; ++n) lists.push_back({"pods/" + std::to_string(n) + ".ini", std::to_string(n) + "\r\n"});
  return lists;
}

std::vector<std::pair<std::string, std::string>> with(std::vector<std::pair<std::string, std::string>> a,
                                                    const std::vector<std::pair<std::string, std::string>>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::pair<std::string, std::string>> pods(int directory, int count, const std::string& prefix) {
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < count; ++i) {
    files.push_back({"pods/" + std::to_string(directory) + "/" + prefix + std::to_string(100 + i) + ".pod", "p"});
  }
  return files;
}

std::string list_of(int directory, int count, const std::string& prefix) {
  std::string lines;
  for (int i = 0; i < count; ++i) lines += std::to_string(directory) + "\\" + prefix + std::to_string(100 + i) + ".pod\r\n";
  return lines;
}

// Sets Windows file attributes with Wine's own attrib command.
std::function<void(const Target&, const std::string&)> attrib(std::vector<std::pair<std::string, std::string>> changes) {
  return [changes](const Target& target, const std::string& directory) {
    for (const auto& [flag, name] : changes) {
      Finished done = run_command({wine_loader(), "attrib", flag, path_for_program(target, directory + "/" + name)}, directory);
      ASSERT_TRUE(done.in_time && done.status == 0) << "attrib " << flag << " " << name;
    }
  };
}

std::vector<Scenario> scenarios() {
  const std::vector<std::pair<std::string, std::string>> road = {
      {"pods/0/base.pod", "b"}, {"pods/0/maps.pod", "m"}, {"pods/1/extra.pod", "e"}};
  const std::string two_common = "2\r\n0\\base.pod\r\n0\\maps.pod\r\n";
  std::string seven_not_found;
  for (int i = 0; i < 7; ++i) seven_not_found += not_found;
  std::vector<std::pair<std::string, std::string>> lookalike;  // "Lódz", beside the root "Łódź"
  std::vector<std::pair<std::string, std::optional<std::string>>> lookalike_kept = {{"pod.ini", absent}};
  for (const auto& [name, contents] : with(numbered_lists(), road)) {
    lookalike.push_back({"pods/L\xc3\xb3" "dz/" + name.substr(5), contents});
    lookalike_kept.push_back(lookalike.back());
  }
  auto told = [](const std::string& what, const std::string& lists) {  // "/v": a line for each list named
    std::string lines;
    for (char n : lists) lines += "list file " + what + ": {root}\\" + n + ".ini\n";
    return lines;
  };
  return {
      {.name = "no arguments", .given = {}, .arguments = {}, .output = usage, .expected = {{"pod.ini", absent}}},
      {.name = "usage request", .given = numbered_lists(), .arguments = {"/?"}, .output = usage, .expected = {{"pod.ini", absent}}},
      {.name = "usage before update", .given = road, .arguments = {"/?", "/u", "{root}"}, .output = usage, .expected = {{"pods/1.ini", absent}, {"pod.ini", absent}}},
      {.name = "update then usage",
       .given = road,
       .arguments = {"/u", "/?", "{root}"},
       .output = updating + usage,
       .expected = {{"pods/1.ini", "3\r\n0\\base.pod\r\n1\\extra.pod\r\n0\\maps.pod\r\n"}, {"pods/7.ini", two_common}, {"pod.ini", absent}}},
      {.name = "/e: a failing run ends with status 1",
       .given = {{"pods/1/a.pod", ""}, {"pods/1.ini", "earlier"}},
       .arguments = {"/e", "/u", "/1", "{root}"},
       .output = updating + seven_not_found,
       .expected = {{"pods/1.ini", "earlier"}, {"pod.ini", "earlier"}},
       .status = 1},
      {.name = "/E: a clean run ends with status 0", .given = numbered_lists(), .arguments = {"/E", "/3", "{root}"}, .output = "", .expected = {{"pod.ini", "3\r\n"}}, .status = 0},
      {.name = "/e with a usage request alone", .given = {}, .arguments = {"/?", "/e"}, .output = usage, .expected = {{"pod.ini", absent}}, .status = 0},
      {.name = "a root that begins with /e", .given = {}, .arguments = {"/3", "/efs/pods"}, .output = no_ini, .expected = {{"pod.ini", absent}}, .status = 0},
      {.name = "/e after a failing update and a usage request", .given = {}, .arguments = {"/u", "/?", "/e"}, .output = updating + seven_not_found + usage,
       .expected = {{"pod.ini", absent}}, .status = 1},
      {.name = "road of one run",
       .given = road,
       .arguments = {"/u", "/2", "{root}"},
       .output = updating,
       .expected = {{"pods/1.ini", "3\r\n0\\base.pod\r\n1\\extra.pod\r\n0\\maps.pod\r\n"},
        {"pods/2.ini", two_common}, {"pods/3.ini", two_common}, {"pods/4.ini", two_common},
        {"pods/5.ini", two_common}, {"pods/6.ini", two_common}, {"pods/7.ini", two_common},
        {"pod.ini", "2\r\n{root}\\0\\base.pod\r\n{root}\\0\\maps.pod\r\n"}}},
      {.name = "list number argument", .given = numbered_lists(), .arguments = {"/3", "{root}"}, .output = "", .expected = {{"pod.ini", "3\r\n"}}},
      {.name = "last list number wins", .given = numbered_lists(), .arguments = {"/3", "/5", "{root}"}, .output = "", .expected = {{"pod.ini", "5\r\n"}}},
      {.name = "first character not examined", .given = numbered_lists(), .arguments = {"x6", "{root}"}, .output = "", .expected = {{"pod.ini", "6\r\n"}}},
      {.name = "eight selects the day's list", .given = numbered_lists(), .arguments = {"/8", "{root}"}, .output = "", .expected = {{"pod.ini", "{today}\r\n"}}},
      {.name = "the day's list", .given = numbered_lists(), .arguments = {"{root}"}, .output = "", .expected = {{"pod.ini", "{today}\r\n"}}},
      {.name = "root with trailing backslash", .given = numbered_lists(), .arguments = {"/4", "{root}\\"}, .output = "", .expected = {{"pod.ini", "4\r\n"}}},
      {.name = "root with trailing slash",
       .given = {{"pods/4.ini", "1\r\n0\\a.pod\r\n"}},
       .arguments = {"/4", "{root}/"},
       .output = "",
       .expected = {{"pod.ini", "1\r\n{root}/\\0\\a.pod\r\n"}}},
      {.name = "root path too long",
       .given = numbered_lists(),
       .arguments = {"/?", "/3", "{root}\\" + std::string(250, 'x')},
       .output = "Error: path to pods is too long\n",
       .expected = {{"pod.ini", absent}}},
      {.name = "list file missing",
       .given = {{"pod.ini", "earlier\r\n"}},
       .arguments = {"/3", "{root}"},
       .output = no_ini,
       .expected = {{"pod.ini", "earlier\r\n"}}},
      {.name = "list file is a directory", .given = {{"pods/3.ini/", ""}}, .arguments = {"/3", "{root}"}, .output = no_ini, .expected = {{"pod.ini", absent}}},
      {.name = "pod.ini is a directory", .given = with(numbered_lists(), {{"pod.ini/", ""}}), .arguments = {"/3", "{root}"}, .output = no_pod_ini, .expected = {}},
      {.name = "text rules of the list file",
       .given = {{"pods/3.ini", "4\r\n\r\n0\\" + std::string(85, 'L') + ".pod\r\n0\\lf.pod\n0\\last.pod"}},
       .arguments = {"/3", "{root}"},
       .output = "",
       .expected = {{"pod.ini", "4\r\n{root}\\\r\n{root}\\0\\" + std::string(85, 'L') + ".pod\r\n{root}\\0\\lf.pod\r\n{root}\\0\\last.pod"}}},
      // A new file is written in blocks of 64 KiB: this one takes two.
      {.name = "a list line longer than a block",
       .given = {{"pods/3.ini", "2\r\n0\\" + std::string(70000, 'L') + ".pod\r\n0\\b.pod\r\n"}},
       .arguments = {"/3", "{root}"},
       .output = "",
       .expected = {{"pod.ini", "2\r\n{root}\\0\\" + std::string(70000, 'L') + ".pod\r\n{root}\\0\\b.pod\r\n"}}},
      {.name = "ctrl-z ends the list file",
       .given = {{"pods/3.ini", "2\r\n0\\a.pod\r\n\x1a" "0\\b.pod\r\n"}},
       .arguments = {"/3", "{root}"},
       .output = "",
       .expected = {{"pod.ini", "2\r\n{root}\\0\\a.pod\r\n"}}},
      {.name = "empty list file", .given = {{"pods/3.ini", ""}, {"pod.ini", "earlier"}}, .arguments = {"/3", "{root}"}, .output = "", .expected = {{"pod.ini", ""}}},
      // Expanded, "*.pod" would name the directory x.pod, which holds a list 3.
      {.name = "wildcards arrive unchanged", .given = {{"x.pod/3.ini", "0\r\n"}}, .arguments = {"/3", "*.pod"}, .output = no_ini, .expected = {{"pod.ini", absent}}},
      {.name = "a hundred pods",
       .given = with(pods(0, 60, "c"), pods(5, 40, "n")),
       .arguments = {"/u", "/5", "{root}"},
       .output = updating,
       .expected = {{"pods/5.ini", "100\r\n" + list_of(0, 60, "c") + list_of(5, 40, "n")}, {"pods/1.ini", "60\r\n" + list_of(0, 60, "c")}}},
      {.name = "a hundred and one pods",
       .given = with(with(pods(0, 60, "c"), pods(5, 41, "n")), {{"pods/5.ini", "earlier"}}),
       .arguments = {"/u", "/5", "{root}"},
       .output = updating + "Maximum number of PODS has been exceeded",
       .expected = {{"pods/5.ini", "earlier"}, {"pods/4.ini", "60\r\n" + list_of(0, 60, "c")},
        {"pod.ini", "earlier"}}},
      {.name = "name order and letter case",
       .given = {{"pods/0/b.POD", ""}, {"pods/0/Z.pod", ""}, {"pods/0/_a.pod", ""}, {"pods/0/a.pod", ""},
        {"pods/3/A-b.pod", ""}, {"pods/3/a.pod", ""}, {"pods/0/x.podcast", ""}, {"pods/0/y.pode", ""},
        {"pods/0/pod", ""}, {"pods/0/z.pod/", ""}},
       .arguments = {"/u", "/3", "{root}"},
       .output = updating,
       .expected = {{"pods/3.ini", "6\r\n3\\A-b.pod\r\n0\\a.pod\r\n3\\a.pod\r\n0\\b.POD\r\n0\\Z.pod\r\n0\\_a.pod\r\n"}}},
      {.name = "common directory missing",
       .given = {{"pods/1/a.pod", ""}, {"pods/1.ini", "earlier"}},
       .arguments = {"/u", "/1", "{root}"},
       .output = updating + seven_not_found,
       .expected = {{"pods/1.ini", "earlier"}, {"pods/2.ini", absent}, {"pod.ini", "earlier"}}},
      {.name = "common directory without pods",
       .given = {{"pods/0/", ""}, {"pods/2/a.pod", ""}},
       .arguments = {"/u", "/2", "{root}"},
       .output = updating + seven_not_found + no_ini,
       .expected = {{"pods/2.ini", absent}}},
      {.name = "numbered folders that are no folders",
       .given = with(road, {{"pods/3", "a file"}}),
       .arguments = {"/u", "/3", "{root}"},
       .output = updating,
       .expected = {{"pods/3.ini", two_common}, {"pods/4.ini", two_common}},
       .prepare = [](const Target&, const std::string& directory) {
         ASSERT_EQ(symlink("nowhere", (directory + "/pods/4").c_str()), 0);
       }},
      {.name = "list file that may not be written",
       .given = with(road, {{"pods/4.ini/", ""}}),
       .arguments = {"/u", "/7", "{root}"},
       .output = updating + "Error: cannot open file for writing\n",
       .expected = {{"pods/3.ini", two_common}, {"pods/5.ini", two_common}, {"pod.ini", "2\r\n{root}\\0\\base.pod\r\n{root}\\0\\maps.pod\r\n"}}},
      {.name = "hidden pods and links",
       .given = {{"pods/0/.hidden.pod", ""}, {"pods/0/real.pod", "r"}, {"pods/0/sub/", ""}},
       .arguments = {"/u", "/1", "{root}"},
       .output = updating,
       .expected = {{"pods/1.ini", "3\r\n0\\link.pod\r\n0\\real.pod\r\n0\\sub.pod\r\n"}}, .only = Only::native,
       .prepare = [](const Target&, const std::string& directory) {
         ASSERT_EQ(symlink("real.pod", (directory + "/pods/0/link.pod").c_str()), 0);
         ASSERT_EQ(symlink("missing", (directory + "/pods/0/dangling.pod").c_str()), 0);
         ASSERT_EQ(symlink("real.pod", (directory + "/pods/0/sub.pod").c_str()), 0);
         ASSERT_EQ(symlink("sub", (directory + "/pods/0/dir.pod").c_str()), 0);
       }},
      {.name = "hidden, system and read-only files",
       .given = {{"pods/0/h.pod", ""}, {"pods/0/s.pod", ""}, {"pods/0/r.pod", ""}, {"pods/0/x.pod", ""}, {"pods/0/z.pod/", ""}},
       .arguments = {"/u", "/1", "{root}"},
       .output = updating,
       .expected = {{"pods/1.ini", "2\r\n0\\r.pod\r\n0\\x.pod\r\n"}}, .only = Only::windows,
       .prepare = attrib({{"+h", "pods/0/h.pod"}, {"+s", "pods/0/s.pod"}, {"+r", "pods/0/r.pod"}})},
      {.name = "pod.ini links to a file of its own",
       .given = with(numbered_lists(), {{"real.ini", "earlier"}}),
       .arguments = {"/3", "{root}"},
       .output = "",
       .expected = {{"real.ini", "3\r\n"}, {"pod.ini", "3\r\n"}},
       .prepare = [](const Target&, const std::string& directory) {
         ASSERT_EQ(symlink("real.ini", (directory + "/pod.ini").c_str()), 0);
       }},
      // The list file 3 is replaced; pod.ini, which Wine cannot give a new
      // file's mode 0600, is written in place there, and shrinks; list 1 is new.
      {.name = "written files keep their mode, and are not made hidden or system",
       .given = with(road, {{"pods/3.ini", "earlier"}, {"pod.ini", std::string(300, 'e')}}),
       .arguments = {"/u", "/3", "{root}"},
       .output = updating,
       .expected = {{"pods/3.ini", two_common}, {"pod.ini", "2\r\n{root}\\0\\base.pod\r\n{root}\\0\\maps.pod\r\n"}},
       .prepare = [](const Target&, const std::string& directory) {
         chmod((directory + "/pods/3.ini").c_str(), 0644), chmod((directory + "/pod.ini").c_str(), 0600);
       },
       .check = [](const Target& target, const std::string& directory) {
         for (auto [name, mode] : {std::pair<const char*, mode_t>{"pods/3.ini", 0644}, {"pod.ini", 0600}}) {
           struct stat status {};
           EXPECT_EQ(stat((directory + "/" + name).c_str(), &status) == 0 ? status.st_mode & 07777 : 0, mode) << name;
         }
         for (const char* name : {"pods/1.ini", "pods/3.ini", "pod.ini"}) {
           if (!target.wine) break;
           Finished shown = run_command({wine_loader(), "attrib", path_for_program(target, directory + "/" + name)}, directory);
           EXPECT_EQ(shown.output.substr(0, shown.output.find(' ')), "A") << name;
         }
       }},
      // A temporary file that a killed run left is neither used nor removed.
      {.name = "a temporary file of a killed run",
       .given = with(numbered_lists(), {{"pod.ini.0001.tmp", "left"}}),
       .arguments = {"/3", "{root}"},
       .output = "",
       .expected = {{"pod.ini", "3\r\n"}, {"pod.ini.0001.tmp", "left"}}, .only = Only::both},
      // Run as root, as in CI: "/dev/null" itself would be at stake.
      {.name = "devices are never replaced",
       .given = road,
       .arguments = {"/u", "/3", "{root}"},
       .output = updating + "Error: cannot open file for writing\n" + no_pod_ini,
       .expected = {{"pods/5.ini", absent}, {"null", absent}, {"pod.ini", absent}, {"pods/4.ini", two_common}},
       .prepare = [](const Target&, const std::string& directory) {
         ASSERT_EQ(mknod((directory + "/pods/5.ini").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0) << "needs root";
         ASSERT_EQ(mknod((directory + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
         ASSERT_EQ(symlink((directory + "/null").c_str(), (directory + "/pod.ini").c_str()), 0);
       }},
      {.name = "a list file that is a device is not read",
       .given = {}, .arguments = {"/3", "{root}"}, .output = no_ini, .expected = {{"pod.ini", absent}},
       .prepare = [](const Target&, const std::string& directory) {
         make_directories(directory + "/pods");
         ASSERT_EQ(symlink("/dev/null", (directory + "/pods/3.ini").c_str()), 0);
       }},
      // Every name a new file could take is taken: 16 bits of them.
      {.name = "every temporary name taken", .given = with(numbered_lists(), {{"pod.ini", "earlier"}}), .arguments = {"/3", "{root}"}, .output = "",
       .expected = {{"pod.ini", "3\r\n"}},
       .prepare = [](const Target&, const std::string& directory) {
         for (unsigned n = 0; n < 0x10000; ++n) {
           char name[32];
           std::snprintf(name, sizeof name, "/pod.ini.%04x.tmp", n);
           ASSERT_TRUE(std::ofstream(directory + name)) << name;
         }
       },
       .check = [](const Target&, const std::string& directory) {
         std::size_t left = 0;
         for (const auto& entry : std::filesystem::directory_iterator(directory)) {
           if (entry.path().extension() != ".tmp") continue;
           left += entry.file_size() == 0;
           std::filesystem::remove(entry.path());
         }
         EXPECT_EQ(left, 0x10000u);
       }},
      {.name = "a file of two names gets the list under both",
       .given = with(numbered_lists(), {{"pod.ini", "earlier"}}), .arguments = {"/3", "{root}"}, .output = "",
       .expected = {{"pod.ini", "3\r\n"}, {"other.ini", "3\r\n"}},
       .prepare = [](const Target&, const std::string& directory) {
         ASSERT_EQ(link((directory + "/pod.ini").c_str(), (directory + "/other.ini").c_str()), 0);
       }},
      // Windows: "7.ini.xxxx.tmp" behind the root must fit the 259 characters of a path.
      {.name = "root at the Windows limit", .given = road, .arguments = {"/u", "/2", "{root}"}, .output = updating,
       .expected = {{"pods/7.ini", two_common}, {"pod.ini", "2\r\n{root}\\0\\base.pod\r\n{root}\\0\\maps.pod\r\n"}}, .root_length = 245},
      {.name = "root past the Windows limit", .given = road, .arguments = {"/u", "/2", "{root}"}, .output = "Error: path to pods is too long\n",
       .expected = {{"pods/1.ini", absent}, {"pod.ini", absent}}, .only = Only::windows, .root_length = 246},
      {.name = "root of 255 characters", .given = road, .arguments = {"/u", "/2", "{root}"}, .output = "Error: path to pods is too long\n",
       .expected = {{"pods/1.ini", absent}, {"pod.ini", absent}}, .only = Only::windows, .root_length = 255},
      {.name = "root of 255 characters", .given = road, .arguments = {"/u", "/2", "{root}"}, .output = updating,
       .expected = {{"pods/7.ini", two_common}, {"pod.ini", "2\r\n{root}\\0\\base.pod\r\n{root}\\0\\maps.pod\r\n"}}, .only = Only::native, .root_length = 255},
      {.name = "quoted root with a trailing backslash, typed at cmd",
       .given = road,
       .arguments = {"/u", "/1", "\"{root}\\\""},
       .output = updating,
       .expected = {{"pods/1.ini", "3\r\n0\\base.pod\r\n1\\extra.pod\r\n0\\maps.pod\r\n"},
        {"pod.ini", "3\r\n{root}\\0\\base.pod\r\n{root}\\1\\extra.pod\r\n{root}\\0\\maps.pod\r\n"}}, .only = Only::windows, .typed_at_cmd = true},
      // Wine takes the names of the disk as UTF-8 and code page 1252 from the locale C.UTF-8.
      {.name = "names the code page cannot hold",
       .given = {{"pods/0/\xe6\x97\xa5\xe6\x9c\xac.pod", ""}, {"pods/0/\xc3\xa9.pod", ""}, {"pods/0/plain.pod", ""},
        {"pods/0/\xc5\x81.pod", ""}},  .arguments = // the code page's best fit for it would be "L.pod"
       {"/u", "/1", "{root}"},
       .output = updating,
       .expected = {{"pods/1.ini", "2\r\n0\\plain.pod\r\n0\\\xe9.pod\r\n"}}, .only = Only::windows},
      {.name = "/v: one list changes, an argument chooses",
       .given = with(road, {{"pods/1.ini", "earlier"}, {"pods/2.ini", two_common}, {"pods/3.ini", two_common},
                   {"pods/4.ini", two_common}, {"pods/5.ini", two_common}, {"pods/6.ini", two_common},
                   {"pods/7.ini", two_common}}),
       .arguments = {"/v", "/u", "/2", "{root}"},
       .output = updating + told("written, 3 pods, 2 common", "1") + told("unchanged, 2 pods, 2 common", "234567") +
           "list 2 read, chosen by argument \"/2\", 3 lines: {root}\\2.ini\npod.ini written: {here}\n",
       .expected = {{"pods/1.ini", "3\r\n0\\base.pod\r\n1\\extra.pod\r\n0\\maps.pod\r\n"}}},
      {.name = "/V: the day chooses", .given = numbered_lists(), .arguments = {"/V", "{root}"},
       .output = "list {today} read, chosen by day {day}, 1 lines: {root}\\{today}.ini\npod.ini written: {here}\n",
       .expected = {{"pod.ini", "{today}\r\n"}}},
      {.name = "/v: a list file fails, and then the installation",
       .given = with(pods(0, 60, "c"), pods(5, 41, "n")),
       .arguments = {"/u", "/v", "/5", "{root}"},
       .output = updating + told("written, 60 pods, 60 common", "1234") + "Maximum number of PODS has been exceeded\n" +
           told("not written", "5") + told("written, 60 pods, 60 common", "67") + no_ini +
           "list 5 not read, chosen by argument \"/5\": {root}\\5.ini\npod.ini not written: {here}\n",
       .expected = {{"pods/5.ini", absent}, {"pod.ini", absent}}},
      // Code page 1252 holds "Été": the Windows program is handed the root in it.
      {.name = "a root with letters outside ASCII", .given = road, .arguments = {"/u", "/2", "{root}"}, .output = updating,
       .expected = {{"pods/7.ini", two_common}, {"pod.ini", "2\r\n{root}\\0\\base.pod\r\n{root}\\0\\maps.pod\r\n"}}, .root_folder = "\xc3\x89t\xc3\xa9"},
      // Code page 1252 lacks "Ł" and "ź": the root is not taken for the folder
      // "Lódz" beside it, nor "/Ł" for the usage request "/?".
      {.name = "a root outside the code page", .given = lookalike, .arguments = {"/u", "/3", "{root}\\\xc5\x81\xc3\xb3" "d\xc5\xba"},
       .output = updating + seven_not_found + no_ini, .expected = lookalike_kept},
      {.name = "an option outside the code page", .given = numbered_lists(), .arguments = {"/\xc5\x81", "/3", "{root}"}, .output = "",
       .expected = {{"pod.ini", "3\r\n"}}},
      {.name = "read-only pod.ini: /v names it alone",
       .given = with(numbered_lists(), {{"pod.ini", "earlier"}}),
       .arguments = {"/e", "/v", "/3", "{root}"},
       .output = no_pod_ini + "pod.ini not written: {here}\n",
       .expected = {{"pod.ini", "earlier"}}, .status = 1, .only = Only::windows,
       .prepare = attrib({{"+r", "pod.ini"}})},
  };
}

// Text as the program holds it: under Wine, in code page 1252, which has
// each letter of Latin-1 from U+00C0 on, two bytes in UTF-8, as one byte.
std::string in_code_page(const Target& target, std::string text) {
  for (std::size_t at = text.find('\xc3'); target.wine && at != std::string::npos; at = text.find('\xc3', at + 1)) {
    text.replace(at, 2, 1, static_cast<char>(0xc0 | (text[at + 1] & 0x3f)));
  }
  return text;
}

int today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_wday;
}

TEST(Scenarios, EachRunGivesItsOutputAndFiles) {
  const Target target = target_from_environment();
  ASSERT_FALSE(target.program.empty()) << "QUORVANTIS_PROGRAM names the program under test";
  setenv("LANG", "C.UTF-8", 1);
  unsetenv("LC_ALL");
  unsetenv("LC_CTYPE");
  for (const Scenario& scenario : scenarios()) {
    if (scenario.only == (target.wine ? Only::native : Only::windows)) continue;
    SCOPED_TRACE(scenario.name);
    TemporaryDirectory directory;
    // A long root: a directory below "pods" of the length that makes it up.
    std::string pods = "pods/";
    const std::size_t shortest = path_for_program(target, directory.path() + "/pods/").size() + 2;
    if (scenario.root_length) pods += std::string(scenario.root_length - shortest + 1, 'r') + "/";
    if (!scenario.root_folder.empty()) pods += scenario.root_folder + "/";
    auto at = [&](const std::string& name) {
      return directory.path() + "/" + (name.rfind("pods/", 0) == 0 ? pods + name.substr(5) : name);
    };
    for (const auto& [name, contents] : scenario.given) {
      if (name.back() == '/') {
        make_directories(at(name));
      } else {
        write_file(at(name), contents);
      }
    }
    if (scenario.prepare) scenario.prepare(target, directory.path());
    const std::string root = path_for_program(target, directory.path() + "/" + pods.substr(0, pods.size() - 1));
    if (scenario.root_length) {
      ASSERT_EQ(root.size() + 1, scenario.root_length);
    }
    const char* days[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    const std::string here =
        path_for_program(target, std::filesystem::canonical(directory.path()).string() + "/pod.ini");
    auto fill_in = [&](std::string text) {
      text = replace_all(replace_all(text, "{root}", root), "{today}", std::to_string(today() == 0 ? 7 : today()));
      return replace_all(replace_all(text, "{day}", days[today()]), "{here}", here);
    };
    std::vector<std::string> arguments;
    for (const std::string& argument : scenario.arguments) arguments.push_back(fill_in(argument));

    std::vector<std::string> command = scenario.launcher;
    for (const std::string& word : program_command(target, arguments)) command.push_back(word);
    if (scenario.typed_at_cmd) {
      std::string line = "@\"" + path_for_program(target, target.program) + "\"";
      for (const std::string& argument : arguments) line += " " + argument;
      write_file(directory.path() + "/run.bat", line + "\r\n");
      command = {wine_loader(), "cmd", "/c", "run.bat"};
    }
    Finished run = run_command(command, directory.path());

    ASSERT_TRUE(run.in_time);
    EXPECT_EQ(run.status, scenario.status);
    EXPECT_EQ(run.output, fill_in(scenario.output));
    for (const auto& [name, contents] : scenario.expected) {
      std::optional<std::string> wanted = contents ? std::optional(in_code_page(target, fill_in(*contents))) : absent;
      EXPECT_EQ(read_file(at(name)), wanted) << name;
    }
    if (scenario.check) scenario.check(target, directory.path());
    for (const std::string& name : files_below(directory.path())) {
      const bool given = std::any_of(scenario.given.begin(), scenario.given.end(), [&](auto& file) { return file.first == name; });
      EXPECT_TRUE(given || name.find(".tmp") == std::string::npos) << "left behind: " << name;
    }
  }
}

}  // namespace
