// A pack that fails or dies at any of its writes (including flushes and renames) leaves a table
// that opens with all its live records and an index that matches it; so does a rebuild of a stale
// index that dies at any of its writes.
#include <gtest/gtest.h>

#include "dbase/io_fault.h"
#include "dbase/table.h"
#include "tests/dbase/mdx_checker.h"
#include "tests/dbase/test_support.h"

namespace dbase::test {
namespace {

class PackCrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateJournal(path_);
    Table table;
    table.SetCodePage(866);
    table.Open(path_);
    for (int i = 0; i < 900; ++i) AppendRow(table, SampleRow(i));
    table.First();
    for (int i = 0; i < 900 && !table.Eof(); ++i) {
      if (i % 3 == 0) {
        table.Delete();
      } else {
        live_.push_back(SampleRow(i));
        table.Next();
      }
    }
    table.Close();
    dbf_ = ReadBytes(path_);
    mdx_ = ReadBytes(mdxPath_);
  }

  void Restore() {
    WriteBytes(path_, dbf_);
    WriteBytes(mdxPath_, mdx_);
  }

  static void PackNow(const std::string& path) {
    Table table;
    table.SetExclusive(true);
    table.Open(path);
    table.Pack();
  }

  void ExpectIntact(const std::string& when) {
    Table table;
    table.SetCodePage(866);
    ASSERT_NO_THROW(table.Open(path_)) << when;
    EXPECT_EQ(ReadRows(table), live_) << when;
    table.Close();
    const MdxCheck check = CheckMdx(ReadBytes(mdxPath_));
    EXPECT_TRUE(check.problems.empty()) << when;
    const auto dbf = ReadBytes(path_);
    for (const TagWalk& tag : check.tags)
      EXPECT_EQ(tag.keys, ExpectedKeys(dbf, tag.expression)) << when;
  }

  long long StepsOfAPack() {
    io_fault::Disarm();
    PackNow(path_);
    const long long steps = io_fault::Steps();
    Restore();
    return steps;
  }

  ScratchDir dir_;
  std::string path_ = dir_.File("transact.dbf");
  std::string mdxPath_ = dir_.File("transact.mdx");
  std::vector<std::uint8_t> dbf_;
  std::vector<std::uint8_t> mdx_;
  std::vector<JournalRow> live_;
};

TEST_F(PackCrashTest, FailedWriteAtAnyStepKeepsAllRecords) {
  const long long steps = StepsOfAPack();
  ASSERT_GE(steps, 6);
  for (long long step = 1; step <= steps; ++step) {
    io_fault::Arm(step, io_fault::Action::Throw);
    EXPECT_THROW(PackNow(path_), Error) << "step " << step;
    io_fault::Disarm();
    ExpectIntact("after a failure at step " + std::to_string(step));
    Restore();
  }
}

TEST_F(PackCrashTest, ProcessDyingAtAnyStepKeepsAllRecords) {
  const long long steps = StepsOfAPack();
  for (long long step = 1; step <= steps; ++step) {
    ASSERT_TRUE(ChildEndsAtInjectedExit([&] {
      io_fault::Arm(step, io_fault::Action::Exit);
      PackNow(path_);
    })) << "step " << step;
    const std::string when = "after dying at step " + std::to_string(step);
    ExpectIntact(when);
    ASSERT_NO_THROW(PackNow(path_)) << when;  // leftovers of the dead pack are no obstacle
    ExpectIntact(when + " and packing again");
    Restore();
  }
}

// The index is rebuilt when it does not match the table (here: left behind by appends it missed).
// A rebuild that dies part way must still leave an index that the next open can read and rebuild.
class RebuildCrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateJournal(path_);
    Table table;
    table.SetCodePage(866);
    table.Open(path_);
    for (int i = 0; i < 400; ++i) AppendRow(table, SampleRow(i));
    const auto stale = ReadBytes(mdxPath_);
    for (int i = 400; i < 900; ++i) AppendRow(table, SampleRow(i));
    table.Close();
    for (int i = 0; i < 900; ++i) rows_.push_back(SampleRow(i));
    dbf_ = ReadBytes(path_);
    mdx_ = stale;
    Restore();
  }

  void Restore() {
    WriteBytes(path_, dbf_);
    WriteBytes(mdxPath_, mdx_);
  }

  static void OpenNow(const std::string& path) {
    Table table;
    table.Open(path);
  }

  ScratchDir dir_;
  std::string path_ = dir_.File("transact.dbf");
  std::string mdxPath_ = dir_.File("transact.mdx");
  std::vector<std::uint8_t> dbf_;
  std::vector<std::uint8_t> mdx_;
  std::vector<JournalRow> rows_;
};

TEST_F(RebuildCrashTest, ProcessDyingAtAnyStepLeavesAnIndexThatIsRebuilt) {
  io_fault::Disarm();
  OpenNow(path_);
  const long long steps = io_fault::Steps();
  ASSERT_GE(steps, 3);
  Restore();
  for (long long step = 1; step <= steps; ++step) {
    ASSERT_TRUE(ChildEndsAtInjectedExit([&] {
      io_fault::Arm(step, io_fault::Action::Exit);
      OpenNow(path_);
    })) << "step " << step;
    const std::string when = "after dying at step " + std::to_string(step);
    Table table;
    table.SetCodePage(866);
    ASSERT_NO_THROW(table.Open(path_)) << when;
    EXPECT_EQ(ReadRows(table), rows_) << when;
    table.Close();
    const MdxCheck check = CheckMdx(ReadBytes(mdxPath_));
    EXPECT_TRUE(check.problems.empty()) << when;
    for (const TagWalk& tag : check.tags)
      EXPECT_EQ(tag.keys, ExpectedKeys(dbf_, tag.expression)) << when;
    Restore();
  }
}

}  // namespace
}  // namespace dbase::test
