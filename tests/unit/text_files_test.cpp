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

// Replaced whole or rewritten in place, shorter or longer than before, the
// file holds the new text alone, and nothing of it before finish().
TEST(TextWriting, WritesCrLfWholeOrInPlace) {
  for (bool in_place : {false, true}) {
    for (const std::string& old : {std::string("old"), std::string(200000, 'o')}) {
      MemoryFiles files;
      files.files["t"] = old;
      if (in_place) files.in_place.insert("t");
      TextWriter writer(files);
      ASSERT_TRUE(writer.open("t"));
      writer.write("one\ntwo\n");
      writer.write(std::string(100000, 'x'));
      EXPECT_EQ(files.files["t"], old);
      ASSERT_TRUE(writer.finish());
      EXPECT_EQ(files.files, (std::map<std::string, std::string>{{"t", "one\r\ntwo\r\n" + std::string(100000, 'x')}}));
      EXPECT_EQ(files.open_handles, 0);
    }
  }
}

// A failure at any step leaves the old file as it was, and no temporary
// file; in place, the old bytes are written back over what was written.
TEST(TextWriting, AnyFailingStepKeepsTheOldFile) {
  const std::string longer(80000, 'o');
  struct Case {
    Step step;
    bool in_place;
    std::string old = "old";
  } cases[] = {{Step::open_for_writing, false}, {Step::write, false},   {Step::flush, false}, {Step::replace, false},
               {Step::look_up, true},  {Step::reserve, true}, {Step::write, true},  {Step::flush, true},
               {Step::cut, true, longer}};
  for (const Case& c : cases) {
    MemoryFiles files;
    files.files["t"] = c.old;
    if (c.in_place) files.in_place.insert("t");
    files.fail_at(c.step);
    bool finished = false;
    {
      TextWriter writer(files);
      if (writer.open("t")) {
        writer.write(std::string(70000, 'a'));  // more than one buffer's worth
        writer.write("\n");
        finished = writer.finish();
      }
    }
    EXPECT_FALSE(finished) << static_cast<int>(c.step) << (c.in_place ? " in place" : "");
    EXPECT_EQ(files.files, (std::map<std::string, std::string>{{"t", c.old}}));
    EXPECT_EQ(files.open_handles, 0);
  }
}

// A target another program holds is tried again for about two seconds, when
// it is opened and when it is replaced.
TEST(TextWriting, WaitsBrieflyForATargetThatIsHeld) {
  for (int busy : {3, 1000, -3}) {
    MemoryFiles files;
    files.files["t"] = "old";
    (busy > 0 ? files.busy_replaces : files.busy_opens) = std::abs(busy);
    TextWriter writer(files);
    ASSERT_TRUE(writer.open("t"));
    writer.write("new");
    const bool let_go = busy != 1000;
    EXPECT_EQ(writer.finish(), let_go);
    EXPECT_EQ(files.files, (std::map<std::string, std::string>{{"t", let_go ? "new" : "old"}}));
    EXPECT_EQ(files.paused_ms, let_go ? 15 + 30 + 60 : 1905);
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
