#include <gtest/gtest.h>

#include "common/text_reader.h"
#include "common/text_writer.h"
#include "fake_platform.h"

namespace {

using Step = MemoryFiles::Step;

TEST(TextReading, DropsCarriageReturnsAndEndsAtCtrlZ) {
  struct Case {
    std::string raw, text;
  } cases[] = {
      {"a\r\nb\r\n", "a\nb\n"},
      {"lone\rcr", "lonecr"},
      {"before\x1a" "after", "before"},
      {"\x1a", ""},
      {std::string("nul\0kept\n", 9), std::string("nul\0kept\n", 9)},
      {"\r\r\r", ""},
  };
  for (const Case& c : cases) {
    MemoryFiles files;
    files.files["f"] = c.raw;
    TextReader reader(files);
    ASSERT_TRUE(reader.open("f"));
    std::string all, block;
    while (reader.read(block) && !block.empty()) all += block;
    EXPECT_EQ(all, c.text) << c.raw;
  }
}

TEST(TextWriting, WritesCrLfAndReplacesTheFileOnlyWhenComplete) {
  MemoryFiles files;
  files.files["t"] = "old";
  {
    TextWriter writer(files);
    ASSERT_TRUE(writer.open("t"));
    writer.write("one\ntwo\n");
    writer.write(std::string(100000, 'x'));
    EXPECT_EQ(files.files["t"], "old");
    ASSERT_TRUE(writer.finish());
  }
  EXPECT_EQ(files.files["t"], "one\r\ntwo\r\n" + std::string(100000, 'x'));
  EXPECT_EQ(files.files.size(), 1u);
  EXPECT_EQ(files.open_handles, 0);
}

// A failure at any step leaves the old file as it was, and no temporary file.
TEST(TextWriting, AnyFailingStepKeepsTheOldFile) {
  struct Case {
    Step step;
    int occurrence;
  } cases[] = {{Step::may_write, 1}, {Step::create, 1}, {Step::write, 1}, {Step::write, 2},
               {Step::flush, 1},     {Step::close, 1},  {Step::replace, 1}};
  for (const Case& c : cases) {
    MemoryFiles files;
    files.files["t"] = "old";
    files.fail_at(c.step, c.occurrence);
    bool finished = false;
    {
      TextWriter writer(files);
      if (writer.open("t")) {
        writer.write(std::string(70000, 'a'));  // more than one buffer's worth
        writer.write("\n");
        finished = writer.finish();
      }
    }
    EXPECT_FALSE(finished) << static_cast<int>(c.step) << "/" << c.occurrence;
    EXPECT_EQ(files.files, (std::map<std::string, std::string>{{"t", "old"}}));
    EXPECT_EQ(files.open_handles, 0);
  }
}

// A target another program holds is tried again for about two seconds.
TEST(TextWriting, WaitsBrieflyForATargetThatIsHeld) {
  for (int busy : {3, 1000}) {
    MemoryFiles files;
    files.files["t"] = "old";
    files.busy_replaces = busy;
    TextWriter writer(files);
    ASSERT_TRUE(writer.open("t"));
    writer.write("new");
    EXPECT_EQ(writer.finish(), busy == 3);
    EXPECT_EQ(files.files, (std::map<std::string, std::string>{{"t", busy == 3 ? "new" : "old"}}));
    EXPECT_EQ(files.paused_ms, busy == 3 ? 15 + 30 + 60 : 1905);
  }
}

TEST(TextWriting, AnUnfinishedWriterLeavesNothingBehind) {
  MemoryFiles files;
  {
    TextWriter writer(files);
    ASSERT_TRUE(writer.open("new"));
    writer.write("never finished\n");
  }
  EXPECT_TRUE(files.files.empty());
  EXPECT_EQ(files.open_handles, 0);
}

}  // namespace
