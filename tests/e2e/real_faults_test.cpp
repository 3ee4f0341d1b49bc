// Failures of a real disk, met by the native program: a full file system, a
// directory that may not be written, and a run killed at any moment.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <latch>
#include <random>
#include <set>
#include <thread>

#include "harness.h"

namespace {

const std::string cannot_write_list = "Error: cannot open file for writing\n";

class RealFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    target_ = target_from_environment();
    ASSERT_FALSE(target_.program.empty()) << "QUORVANTIS_PROGRAM names the program under test";
    if (target_.wine) GTEST_SKIP() << "faults of the disk are met by the native program";
    // Open to the unprivileged user, with a copy of the program that user may
    // run wherever the build lies.
    chmod(directory_.path().c_str(), 0755);
    const std::string copy = at("quorvantis");
    ASSERT_TRUE(std::filesystem::copy_file(target_.program, copy));
    target_.program = copy;
  }
  std::string at(const std::string& name) const { return directory_.path() + "/" + name; }
  Finished run(const std::vector<std::string>& arguments, const std::string& directory, RunOptions options = {}) {
    return run_command(program_command(target_, arguments), directory, options);
  }
  void expect_no_temporary_file() {
    for (const std::string& name : files_below(directory_.path())) {
      EXPECT_EQ(name.find(".tmp"), std::string::npos) << "left behind: " << name;
    }
  }
  // Fills the tree with pods of long names: each list file then holds about 25 KB.
  void give_pods(const std::string& common, const std::string& tag) {
    for (int i = 0; i < 100; ++i) write_file(common + "/" + tag + std::string(200, 'p') + std::to_string(i) + ".pod", "");
  }
  Target target_;
  TemporaryDirectory directory_;
};

// A small file system of its own, filled up.
class FullDisk {
 public:
  explicit FullDisk(const std::string& path) : path_(path) {
    make_directories(path);
    if (mount("tmpfs", path.c_str(), "tmpfs", 0, "size=512k,mode=0777") != 0) {
      reason_ = std::string("cannot mount a tmpfs here: ") + strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~FullDisk() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  void fill() {
    std::ofstream filler(path_ + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {
    }
  }
  bool mounted() const { return mounted_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string reason_;
};

TEST_F(RealFaults, AFullDiskKeepsPodIniAndTheListFiles) {
  FullDisk disk(at("small"));
  if (!disk.mounted()) GTEST_SKIP() << disk.reason();
  // pod.ini on the full disk, its list elsewhere.
  std::string list = "2000\r\n";
  for (int i = 0; i < 2000; ++i) list += "0\\" + std::string(100, 'x') + std::to_string(i) + ".pod\r\n";
  write_file(at("pods/3.ini"), list);
  write_file(at("small/pod.ini"), "earlier\r\n");
  // The list files on the full disk, their pods elsewhere.
  give_pods(at("small/pods/0"), "");
  write_file(at("small/pods/5.ini"), "earlier\r\n");
  // And a pod.ini that can only be written in place: its folder may not be changed.
  write_file(at("small/locked/pod.ini"), "earlier\r\n");
  chmod(at("small/locked/pod.ini").c_str(), 0666);
  chmod(at("small/locked").c_str(), 0555);
  disk.fill();

  Finished install = run({"/3", at("pods")}, at("small"));
  EXPECT_EQ(install.output, "Error: cannot write pod.ini file\n");
  EXPECT_EQ(read_file(at("small/pod.ini")), "earlier\r\n");
  Finished in_place = run({"/3", at("pods")}, at("small/locked"), {.unprivileged = true});
  EXPECT_EQ(in_place.output, "Error: cannot write pod.ini file\n");
  EXPECT_EQ(read_file(at("small/locked/pod.ini")), "earlier\r\n");
  // A sparse list of 64 GiB is read no further than the first block that
  // finds the disk full; one of 65 MiB on a disk with room, to 64 MiB.
  write_file(at("pods/4.ini"), ""), write_file(at("pods/5.ini"), ""), write_file(at("pod.ini"), "earlier\r\n");
  ASSERT_EQ(truncate(at("pods/4.ini").c_str(), 64LL << 30) | truncate(at("pods/5.ini").c_str(), 65 << 20), 0);
  EXPECT_EQ(run({"/4", at("pods")}, at("small"), {.timeout_ms = 20000}).output, "Error: cannot write pod.ini file\n");
  EXPECT_EQ(run({"/5", at("pods")}, at(""), {.timeout_ms = 20000}).output, "Error: cannot write pod.ini file\n");
  EXPECT_EQ(read_file(at("pod.ini")), "earlier\r\n");

  Finished update = run({"/u", "/9", at("small/pods")}, at("small"));
  std::string reports;
  for (int i = 0; i < 7; ++i) reports += cannot_write_list;
  EXPECT_EQ(update.output, "Updating pod.ini files\n" + reports + "Error: cannot open ini file\n");
  EXPECT_EQ(read_file(at("small/pods/5.ini")), "earlier\r\n");
  EXPECT_EQ(read_file(at("small/pods/1.ini")), std::nullopt);
  expect_no_temporary_file();
}

// Who may write what: each case in a folder of its own, with the common pod
// a.pod, the seven lists of one old entry (root's, mode 0666) in "pods", and
// the application's folder "app"; `prepare` changes that, and the run is
// "/u /2" in "app" as user 65534, or root.
TEST_F(RealFaults, FilesAndFoldersThatMayOrMayNotBeWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to hand files to other users";
  const std::string old_list = "1\r\n0\\old.pod\r\n", new_list = "1\r\n0\\a.pod\r\n";
  const std::string installed = "1\r\n{root}\\0\\a.pod\r\n", updating = "Updating pod.ini files\n";
  std::string refusals;
  for (int i = 0; i < 7; ++i) refusals += cannot_write_list;
  auto own = [](const std::string& file, uid_t user, mode_t mode) {
    ASSERT_EQ(lchown(file.c_str(), user, user), 0);
    if (mode) chmod(file.c_str(), mode);
  };
  // `name` made a link to `text`, owned by `user`; "secret" the victim's own private file.
  auto link = [&](const std::string& c, const std::string& name, const std::string& text, uid_t user) {
    std::remove((c + "/" + name).c_str());
    write_file(c + "/secret", "victim's");
    own(c + "/secret", unprivileged_id, 0600);
    ASSERT_EQ(symlink(text.c_str(), (c + "/" + name).c_str()), 0);
    own(c + "/" + name, user, 0);
  };
  auto shell = [](const std::string& command) { return std::system(command.c_str()) == 0; };
  // daemon's link to its file, in its folder that its group may change, for a run that sees `groups` as the group database.
  auto daemons_link = [&](const std::string& c, const std::string& groups) {
    own(c + "/app", 1, 0775), write_file(c + "/ledger", "ledger"), own(c + "/ledger", 1, 0600), std::remove((c + "/app/pod.ini").c_str());
    symlink("../ledger", (c + "/app/pod.ini").c_str()), own(c + "/app/pod.ini", 1, 0), write_file(c + "/group", replace_all(groups, "{groups}", *read_file("/etc/group")));
    target_.wrapper.insert(target_.wrapper.begin(), {"unshare", "-m", "sh", "-c", "mount --bind ../group /etc/group && exec \"$@\"", "sh"});
  };
  bool kept_extras = false, append_only = false;
  struct Case {
    const char* name;
    std::function<void(const std::string& folder)> prepare;
    bool as_root;
    std::string output;
    std::vector<std::pair<std::string, std::optional<std::string>>> expected;
    uid_t pod_ini_owner;
    std::size_t file_size_limit = 0;
    std::function<void(const std::string& folder)> check = {};
  } cases[] = {
      {"pod.ini its user may write, in a folder that user may not change",
       [&](const std::string& c) { chmod((c + "/app").c_str(), 0755), own(c + "/app/pod.ini", unprivileged_id, 0644); },
       false, updating, {{"app/pod.ini", installed}, {"pods/2.ini", new_list}}, unprivileged_id},
      {"list files their user may write, in a root folder that user may not change",
       [&](const std::string& c) {
         chmod((c + "/pods").c_str(), 0755);
         for (int n = 1; n <= 7; ++n) own(c + "/pods/" + std::to_string(n) + ".ini", unprivileged_id, 0644);
       },
       false, updating, {{"pods/5.ini", new_list}, {"app/pod.ini", installed}}, 0},  // root's pod.ini, in place
      {"another user's pod.ini that all may write, in a sticky folder",
       [&](const std::string& c) { chmod((c + "/app").c_str(), 01777), own(c + "/app/pod.ini", 1001, 0666); },
       false, updating, {{"app/pod.ini", installed}}, 1001},
      {"another user's link in a sticky folder, even for root",
       [&](const std::string& c) {
         chmod((c + "/app").c_str(), 01777);
         write_file(c + "/secret", "root's");
         std::remove((c + "/app/pod.ini").c_str());
         ASSERT_EQ(symlink("../secret", (c + "/app/pod.ini").c_str()), 0);
         own(c + "/app/pod.ini", 1001, 0);
       },
       true, updating + "Error: cannot write pod.ini file\n", {{"secret", "root's"}}, 1001},
      {"files of mode 0444, even for root",
       [&](const std::string& c) { chmod((c + "/app/pod.ini").c_str(), 0444), chmod((c + "/pods/3.ini").c_str(), 0444); },
       true, updating + cannot_write_list + "Error: cannot write pod.ini file\n",
       {{"pods/3.ini", old_list}, {"pods/2.ini", new_list}, {"app/pod.ini", "earlier"}}, 0},
      {"root's files of mode 0644, in folders that all may change",
       [&](const std::string& c) { chmod((c + "/app/pod.ini").c_str(), 0644), chmod((c + "/pods/3.ini").c_str(), 0644); },
       false, updating + cannot_write_list + "Error: cannot write pod.ini file\n",
       {{"pods/3.ini", old_list}, {"pods/2.ini", new_list}, {"app/pod.ini", "earlier"}}, 0},
      {"folders that may not be changed, and no pod.ini",
       [&](const std::string& c) {
         std::remove((c + "/app/pod.ini").c_str());
         chmod((c + "/app").c_str(), 0555);
         for (int n = 1; n <= 7; ++n) chmod((c + "/pods/" + std::to_string(n) + ".ini").c_str(), 0644);
         chmod((c + "/pods").c_str(), 0555);
       },
       false, updating + refusals + "Error: cannot write pod.ini file\n", {{"pods/2.ini", old_list}, {"app/pod.ini", std::nullopt}}, 0},
      {"a file-size limit",
       [&](const std::string& c) { std::remove((c + "/pods/0/a.pod").c_str()), give_pods(c + "/pods/0", ""); },
       true, updating + refusals, {{"pods/2.ini", old_list}, {"app/pod.ini", "1\r\n{root}\\0\\old.pod\r\n"}}, 0, 2048},
      {"a file-size limit below the new length, in place: the old file whole",
       [&](const std::string& c) {
         write_file(c + "/app/pod.ini", std::string(200, 'e'));
         chmod((c + "/app").c_str(), 0755), own(c + "/app/pod.ini", unprivileged_id, 0644);
       },
       false, updating + "Error: cannot write pod.ini file\n", {{"app/pod.ini", std::string(200, 'e')}, {"pods/2.ini", new_list}},
       unprivileged_id, 40},
      {"the user's own link to another user's link in a sticky folder",
       [&](const std::string& c) {
         chmod((c + "/app").c_str(), 0755), make_directories(c + "/shared"), chmod((c + "/shared").c_str(), 01777);
         link(c, "shared/pod.real", "../secret", 1001), link(c, "app/pod.ini", "../shared/pod.real", unprivileged_id);
       },
       false, updating + "Error: cannot write pod.ini file\n", {{"secret", "victim's"}}, unprivileged_id},
      {"a second name of another account's file, in a sticky folder",
       [&](const std::string& c) {
         chmod((c + "/app").c_str(), 01777), write_file(c + "/ledger", "ledger"), own(c + "/ledger", 1001, 0666);
         std::remove((c + "/app/pod.ini").c_str()), ::link((c + "/ledger").c_str(), (c + "/app/pod.ini").c_str());
       },
       false, updating + "Error: cannot write pod.ini file\n", {{"ledger", "ledger"}}, 1001},
      {"another account's link in a tree it may change, for root",
       [&](const std::string& c) { link(c, "pods/5.ini", "../secret", 1001); },
       true, updating + cannot_write_list, {{"secret", "victim's"}, {"pods/2.ini", new_list}}, 0},
      {"another user's link as a list file, in a sticky root",
       [&](const std::string& c) { chmod((c + "/pods").c_str(), 01777), link(c, "pods/2.ini", "../secret", 1001); },
       false, updating + cannot_write_list + "Error: cannot open ini file\n", {{"secret", "victim's"}, {"app/pod.ini", "earlier"}}, 0},
      {"a FIFO as a list file",
       [&](const std::string& c) { std::remove((c + "/pods/2.ini").c_str()), mkfifo((c + "/pods/2.ini").c_str(), 0666); },
       true, updating + cannot_write_list + "Error: cannot open ini file\n", {{"app/pod.ini", "earlier"}}, 0},
      {"root's link to a file not made yet: the link stays",
       [&](const std::string& c) {
         chmod((c + "/app").c_str(), 0755), std::remove((c + "/app/pod.ini").c_str());
         symlink("../made.ini", (c + "/app/pod.ini").c_str());
       },
       true, updating, {{"made.ini", installed}, {"app/pod.ini", installed}}, 0},
      {"root's own link in a group's folder, even for root",
       [&](const std::string& c) {
         ASSERT_EQ(chown((c + "/app").c_str(), 0, 5000), 0);
         chmod((c + "/app").c_str(), 02775);
         write_file(c + "/real.ini", "earlier"), std::remove((c + "/app/pod.ini").c_str());
         symlink("../real.ini", (c + "/app/pod.ini").c_str());
       },
       true, updating + "Error: cannot write pod.ini file\n", {{"real.ini", "earlier"}}, 0},
      {"another account's link on the way, as the root, for root",
       [&](const std::string& c) { std::rename((c + "/pods").c_str(), (c + "/real").c_str()), link(c, "pods", "real", 1001); },
       true, updating + replace_all(refusals, cannot_write_list, "Error: path to pods not found\n") + "Error: cannot open ini file\n",
       {{"real/2.ini", old_list}, {"app/pod.ini", "earlier"}}, 0},
      {"another account's link as a pod folder, to root's private folder",
       [&](const std::string& c) {
         write_file(c + "/private/x.pod", ""), chmod((c + "/private").c_str(), 0700), link(c, "pods/2", "../private", 1001);
       },
       true, updating, {{"pods/2.ini", new_list}, {"app/pod.ini", installed}}, 0},
      {"a second name of the file of a folder's owner, alone in its group, in place",
       [&](const std::string& c) {
         const passwd* daemon = getpwuid(1);
         const group* its_group = getgrgid(1);
         ASSERT_TRUE(daemon && its_group && std::string(daemon->pw_name) == its_group->gr_name) << "a group of its own";
         own(c + "/app", 1, 0775), write_file(c + "/ledger", "ledger"), own(c + "/ledger", 1, 0644);
         std::remove((c + "/app/pod.ini").c_str()), ::link((c + "/ledger").c_str(), (c + "/app/pod.ini").c_str());
       },
       true, updating, {{"ledger", installed}, {"app/pod.ini", installed}}, 1},
      {"another account's hard link of its private file, as a list file",
       [&](const std::string& c) {
         write_file(c + "/private", "private"), own(c + "/private", 1001, 0400), std::remove((c + "/pods/2.ini").c_str());
         ::link((c + "/private").c_str(), (c + "/pods/2.ini").c_str());
       },
       true, updating + cannot_write_list + "Error: cannot open ini file\n", {{"private", "private"}, {"app/pod.ini", "earlier"}}, 0},
      {"a second name of a set-user-ID program with capabilities, in another account's folder, for root",
       [&](const std::string& c) {
         own(c + "/app", 1001, 0755), write_file(c + "/program", "program"), chmod((c + "/program").c_str(), 04755);
         const std::uint32_t capability[] = {0x02000001, 0x400, 0, 0, 0};  // effective, CAP_NET_BIND_SERVICE
         ASSERT_EQ(setxattr((c + "/program").c_str(), "security.capability", capability, sizeof capability, 0), 0);
         std::remove((c + "/app/pod.ini").c_str()), ::link((c + "/program").c_str(), (c + "/app/pod.ini").c_str());
       },
       true, updating, {{"program", "program"}, {"app/pod.ini", installed}}, 0, 0,
       [&](const std::string& c) {
         struct stat status {};
         EXPECT_TRUE(stat((c + "/app/pod.ini").c_str(), &status) == 0 && (status.st_mode & 07777) == 0755);
         EXPECT_LT(getxattr((c + "/app/pod.ini").c_str(), "security.capability", nullptr, 0), 0);
       }},
      {"an access list and an attribute, and an append-only folder",
       [&](const std::string& c) {
         chmod((c + "/app/pod.ini").c_str(), 0640);
         // Where the file system keeps no access lists or flags, the row checks the rest.
         // The folder's default list is not the new file's: it keeps its own.
         kept_extras = setxattr((c + "/app/pod.ini").c_str(), "user.note", "kept", 4, 0) == 0 &&
                       shell("setfacl -m u:1002:r " + c + "/app/pod.ini 2>/dev/null") &&
                       shell("setfacl -d -m u:1003:rwx " + c + "/app 2>/dev/null");
         append_only = shell("chattr +a " + c + "/pods 2>/dev/null");
         if (!kept_extras || !append_only) std::cout << "no access lists or append-only flag here: not checked\n";
       },
       true, updating, {{"app/pod.ini", installed}, {"pods/2.ini", new_list}}, 0, 0,
       [&](const std::string& c) {
         if (append_only) {
           EXPECT_TRUE(shell("chattr -a " + c + "/pods"));
         }
         if (!kept_extras) return;
         EXPECT_EQ(getxattr((c + "/app/pod.ini").c_str(), "user.note", nullptr, 0), 4);
         EXPECT_TRUE(shell("[ \"$(getfacl -cp " + c + "/app/pod.ini | tr -s '\\n' ' ')\" = "
                           "'user::rw- user:1002:r-- group::r-- mask::r-- other::--- ' ]"));
       }},
      {"an append-only folder its user may not read: in place",
       [&](const std::string& c) { own(c + "/app", unprivileged_id, 0300), own(c + "/app/pod.ini", unprivileged_id, 0644), append_only = shell("chattr +a " + c + "/app 2>/dev/null"); },
       false, updating, {{"app/pod.ini", installed}}, unprivileged_id, 0, [&](const std::string& c) { EXPECT_TRUE(!append_only || shell("chattr -a " + c + "/app")); }},
      {"daemon's link in its folder, where a second entry of its group's number lets another account in",
       [&](const std::string& c) { daemons_link(c, "{groups}x:x:1:nobody\n"); }, true, updating + "Error: cannot write pod.ini file\n", {{"ledger", "ledger"}}, 1},
      {"daemon's link in its folder of its group alone, after a group of thousands of members",
       [&](const std::string& c) { daemons_link(c, "big:x:4000:" + std::string(99999, 'm') + "\n{groups}"); }, true, updating, {{"ledger", installed}}, 1},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = at("case" + std::to_string(++number));
    write_file(folder + "/pods/0/a.pod", "");
    for (int n = 1; n <= 7; ++n) write_file(folder + "/pods/" + std::to_string(n) + ".ini", old_list);
    write_file(folder + "/app/pod.ini", "earlier");
    for (const std::string& file : files_below(folder)) chmod((folder + "/" + file).c_str(), 0666);
    chmod(folder.c_str(), 0755);
    for (const char* inside : {"/pods", "/pods/0", "/app"}) chmod((folder + inside).c_str(), 0777);
    const std::vector<std::string> wrapper = target_.wrapper;
    c.prepare(folder);
    Finished done = run({"/u", "/2", folder + "/pods"}, folder + "/app",
                        {.unprivileged = !c.as_root, .file_size_limit = c.file_size_limit});
    EXPECT_EQ(done.status, 0);
    EXPECT_EQ(done.output, c.output);
    for (const auto& [name, contents] : c.expected) {
      EXPECT_EQ(read_file(folder + "/" + name), contents ? replace_all(*contents, "{root}", folder + "/pods") : contents)
          << name;
    }
    struct stat status {};
    if (lstat((folder + "/app/pod.ini").c_str(), &status) == 0) {
      EXPECT_EQ(status.st_uid, c.pod_ini_owner);
    }
    if (c.check) c.check(folder);
    target_.wrapper = wrapper;
    for (const auto& entry : std::filesystem::directory_iterator(folder + "/app")) {
      EXPECT_EQ(entry.path().filename(), "pod.ini");
    }
  }
  expect_no_temporary_file();
}

// A tree shared by a group: a member who rewrites its files leaves them their
// owner's and the group's, with their mode, whatever the umask.
TEST_F(RealFaults, AGroupSharedTreeStaysShared) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to hand files to other users";
  const gid_t group = 5000;
  write_file(at("pods/0/a.pod"), "");
  write_file(at("pods/3.ini"), "earlier\r\n");
  write_file(at("app/pod.ini"), "earlier\r\n");
  for (const char* folder : {"pods", "app"}) {
    ASSERT_EQ(chown(at(folder).c_str(), 0, group), 0);
    chmod(at(folder).c_str(), 0775);
  }
  for (const char* file : {"pods/3.ini", "app/pod.ini"}) {
    ASSERT_EQ(chown(at(file).c_str(), 1001, group), 0);
    chmod(at(file).c_str(), 0660);
  }
  const mode_t umask_before = umask(022);
  Finished update = run({"/u", "/3", at("pods")}, at("app"), {.unprivileged = true, .extra_group = group});
  umask(umask_before);
  EXPECT_EQ(update.output, "Updating pod.ini files\n");
  EXPECT_EQ(read_file(at("pods/3.ini")), "1\r\n0\\a.pod\r\n");
  for (const char* file : {"pods/3.ini", "app/pod.ini"}) {
    struct stat status {};
    ASSERT_EQ(stat(at(file).c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 1001u) << file;  // rewritten in place: it cannot be given back
    EXPECT_EQ(status.st_gid, group) << file;
    EXPECT_EQ(status.st_mode & 07777, 0660u) << file;
  }
}

// Starts the program and kills it after `delay`; false when it could not start.
bool run_and_kill(const std::vector<std::string>& command, const std::string& directory,
                  std::chrono::microseconds delay) {
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setsid();
    freopen("/dev/null", "w", stdout);
    exec_in(directory, command);
  }
  std::this_thread::sleep_for(delay);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return true;
}

// Killed at random moments, over and over: every list file and pod.ini is
// always either the complete old or the complete new one.
TEST_F(RealFaults, KilledAtAnyMomentNothingIsMixed) {
  give_pods(at("pods/0"), "a");
  give_pods(at("pods/other"), "b");
  std::string big_list_3 = "5000\r\n", big_list_4 = "5000\r\n";
  for (int i = 0; i < 5000; ++i) {
    big_list_3 += "0\\three" + std::to_string(i) + ".pod\r\n";
    big_list_4 += "0\\four" + std::to_string(i) + ".pod\r\n";
  }
  write_file(at("lists/3.ini"), big_list_3);
  write_file(at("lists/4.ini"), big_list_4);
  const std::vector<std::string> update = program_command(target_, {"/u", "/?", at("pods")});

  // What each state of the tree gives when a run is left alone.
  auto swap_common = [&] {
    std::rename(at("pods/0").c_str(), at("pods/swap").c_str());
    std::rename(at("pods/other").c_str(), at("pods/0").c_str());
    std::rename(at("pods/swap").c_str(), at("pods/other").c_str());
  };
  std::set<std::string> whole_lists;
  auto start = std::chrono::steady_clock::now();
  for (int state = 0; state < 2; ++state) {
    run_command(update, directory_.path());
    for (int n = 1; n <= 7; ++n) whole_lists.insert(*read_file(at("pods/" + std::to_string(n) + ".ini")));
    swap_common();
  }
  const auto update_time = (std::chrono::steady_clock::now() - start) / 2;
  ASSERT_EQ(whole_lists.size(), 2u);  // the lists without pods of their own are alike
  std::set<std::string> whole_pod_inis;
  for (int n : {3, 4}) {
    run_command(program_command(target_, {"/" + std::to_string(n), at("lists")}), directory_.path());
    whole_pod_inis.insert(*read_file(at("pod.ini")));
  }
  ASSERT_EQ(whole_pod_inis.size(), 2u);

  std::mt19937 random(12345);
  const auto longest = std::chrono::duration_cast<std::chrono::microseconds>(update_time * 3 / 2);
  int kills = 0;
  for (int i = 0; i < 240; ++i) {
    std::chrono::microseconds delay(std::uniform_int_distribution<long>(0, longest.count())(random));
    if (i % 2 == 0) {
      swap_common();
      ASSERT_TRUE(run_and_kill(update, directory_.path(), delay));
    } else {
      ASSERT_TRUE(run_and_kill(program_command(target_, {i % 4 == 1 ? "/3" : "/4", at("lists")}), directory_.path(), delay));
    }
    ++kills;
    for (int n = 1; n <= 7; ++n) {
      ASSERT_TRUE(whole_lists.count(read_file(at("pods/" + std::to_string(n) + ".ini")).value_or("missing")))
          << "list " << n << " after kill " << i;
    }
    ASSERT_TRUE(whole_pod_inis.count(read_file(at("pod.ini")).value_or("missing"))) << "after kill " << i;
  }
  int left = 0;
  for (const std::string& name : files_below(directory_.path())) left += name.find(".tmp") != std::string::npos;
  std::cout << "kills survived: " << kills << " (a run takes about "
            << std::chrono::duration_cast<std::chrono::microseconds>(update_time).count()
            << " us); temporary files left by killed runs: " << left << "\n";
}

// Runs `a` and `b` in threads of their own, let go together; true when they
// overlapped, each started before the other ended.
bool at_once(const std::function<void()>& a, const std::function<void()>& b) {
  std::latch ready(2);
  std::chrono::steady_clock::time_point start[2], end[2];
  auto timed = [&](int n, const std::function<void()>& run) {
    ready.arrive_and_wait();
    start[n] = std::chrono::steady_clock::now();
    run();
    end[n] = std::chrono::steady_clock::now();
  };
  std::thread other(timed, 1, std::cref(b));
  timed(0, a);
  other.join();
  return start[0] < end[1] && start[1] < end[0];
}

// Two runs at once on one tree, and another program that holds pod.ini open
// for a moment: each run waits its turn, and none fails. A file held for good
// is still reported, and keeps its contents. Both programs: on Windows and
// under Wine no file is renamed over while any program has it open.
TEST(SharedFiles, RunsWaitForFilesHeldForAMoment) {
  const Target target = target_from_environment();
  ASSERT_FALSE(target.program.empty()) << "QUORVANTIS_PROGRAM names the program under test";
  TemporaryDirectory directory;
  const std::string pods = directory.path() + "/pods", pod_ini = directory.path() + "/pod.ini";
  const std::string root = path_for_program(target, pods);
  const std::vector<std::string> update = program_command(target, {"/u", "/3", root});
  std::string list_3, outputs[2];
  // A round may now and then not overlap on a busy machine; most must.
  int overlapped = 0;
  for (int round = 10; round < 15; ++round) {
    write_file(pods + "/0/p" + std::to_string(round) + ".pod", "");  // every list changes
    list_3 += root + "\\0\\p" + std::to_string(round) + ".pod\r\n";
    overlapped += at_once([&] { outputs[0] = run_command(update, directory.path()).output; },
                          [&] { outputs[1] = run_command(update, directory.path()).output; });
    EXPECT_EQ(outputs[0] + outputs[1], "Updating pod.ini files\nUpdating pod.ini files\n") << round;
    EXPECT_EQ(read_file(pod_ini), std::to_string(round - 9) + "\r\n" + list_3) << round;
  }
  std::cout << "updates that ran at once: " << overlapped << " of 5\n";
  EXPECT_GE(overlapped, 3);
  const char* helper = std::getenv("QUORVANTIS_WINDOWS_HELPER");
  // Held for a moment, for good, for a moment sharing only reading (1), and for
  // good without sharing deletion (3): that one is written in place at once,
  // the one held for good with all shared once the wait is over.
  for (const auto& [milliseconds, how] : {std::pair{700, ""}, {4000, ""}, {700, "1"}, {4000, "3"}}) {
    if (!target.wine) break;
    const int hold_ms = milliseconds;
    const char* sharing = how;
    ASSERT_NE(helper, nullptr) << "QUORVANTIS_WINDOWS_HELPER names the helper program";
    const std::string held = directory.path() + "/held";
    std::remove(held.c_str());
    write_file(pod_ini, "earlier");
    auto holder = std::async(std::launch::async, [&] {
      std::vector<std::string> hold = {wine_loader(), helper, "hold", path_for_program(target, pod_ini),
                                       std::to_string(hold_ms), path_for_program(target, held)};
      if (*sharing) hold.push_back(sharing);
      return run_command(hold, directory.path());
    });
    for (int waited = 0; waited < 400 && !read_file(held); ++waited) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(read_file(held)) << "the helper did not take the file";
    const bool let_go_in_time = hold_ms < 1000 || std::string(sharing) != "1";
    EXPECT_EQ(run_command(program_command(target, {"/3", root}), directory.path()).output,
              let_go_in_time ? "" : "Error: cannot write pod.ini file\n") << hold_ms;
    EXPECT_EQ(read_file(pod_ini), let_go_in_time ? "5\r\n" + list_3 : "earlier") << hold_ms;
    EXPECT_EQ(holder.get().status, 0);
  }
  // Two runs at once install lists of different lengths into a pod.ini that
  // is written in place: natively as a user who may not change its folder;
  // under Wine, which can give no new file its mode 0600. The shorter, list
  // 6, of many short lines, takes the longer to copy.
  if (!target.wine && geteuid() != 0) GTEST_SKIP() << "needs root, to run as another user";
  Target runner = target;
  if (!target.wine) {
    runner.program = directory.path() + "/quorvantis";
    ASSERT_TRUE(std::filesystem::copy_file(target.program, runner.program));
    chmod(directory.path().c_str(), 0755);
  }
  std::string installed[2];
  for (int n : {0, 1}) {
    const int lines = n == 0 ? 30000 : 40;
    std::string list = installed[n] = std::to_string(lines) + "\r\n";
    for (int i = 0; i < lines; ++i) {
      const std::string pod = "0\\" + std::string(n * 50000, 'q') + std::to_string(i) + ".pod\r\n";
      list += pod;
      installed[n] += root + "\\" + pod;
    }
    write_file(pods + "/" + std::to_string(6 + n) + ".ini", list);
  }
  chmod(pod_ini.c_str(), target.wine ? 0600 : 0666);
  struct stat before {}, after {};
  ASSERT_EQ(stat(pod_ini.c_str(), &before), 0);
  auto install = [&](const char* list, std::string& output) {
    output = run_command(program_command(runner, {list, root}), directory.path(), {.unprivileged = !target.wine}).output;
  };
  overlapped = 0;
  for (int round = 0; round < 15; ++round) {
    write_file(pod_ini, "earlier");
    overlapped += at_once([&] { install("/7", outputs[0]); }, [&] { install("/6", outputs[1]); });
    EXPECT_EQ(outputs[0] + outputs[1], "") << round;
    const std::string now = read_file(pod_ini).value_or("");
    EXPECT_TRUE(now == installed[0] || now == installed[1]) << "round " << round << ": " << now.size() << " bytes";
  }
  std::cout << "installations that ran at once: " << overlapped << " of 15\n";
  EXPECT_GE(overlapped, 8);
  EXPECT_TRUE(stat(pod_ini.c_str(), &after) == 0 && after.st_ino == before.st_ino) << "not written in place";
  for (const std::string& name : files_below(directory.path())) {
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << "left behind: " << name;
  }
}

}  // namespace
