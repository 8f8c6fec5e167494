// A pack that fails or dies at any of its writes (including flushes and renames) leaves a table
// that opens with all its live records and an index that matches it; so does a rebuild of a stale
// index that dies at any of its writes.
#include <gtest/gtest.h>

#include "dbase/io_fault.h"
#include "dbase/table.h"
#include "tests/dbase/test_support.h"

namespace dbase::test {
namespace {

// The table opens with exactly `rows` and an index that matches it.
void ExpectTableHolds(const std::string& path, const std::string& mdxPath,
                      const std::vector<JournalRow>& rows, const std::string& when) {
  Table table;
  table.SetCodePage(866);
  ASSERT_NO_THROW(table.Open(path)) << when;
  EXPECT_EQ(ReadRows(table), rows) << when;
  table.Close();
  ExpectIndexMatchesTable(path, mdxPath, when);
}

class PackCrashTest : public JournalTest {
 protected:
  PackCrashTest() : JournalTest(900) {}
  void SetUp() override {
    JournalTest::SetUp();
    Table table;
    table.Open(path_);
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
    Snapshot();
  }

  static void PackNow(const std::string& path) {
    Table table;
    table.SetExclusive(true);
    table.Open(path);
    table.Pack();
  }

  void ExpectIntact(const std::string& when) { ExpectTableHolds(path_, mdxPath_, live_, when); }

  long long StepsOfAPack() {
    return StepsOf([&] { PackNow(path_); });
  }

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
  DieAtEachStep(StepsOfAPack(), [&] { PackNow(path_); }, [&](const std::string& when) {
    ExpectIntact(when);
    ASSERT_NO_THROW(PackNow(path_)) << when;  // leftovers of the dead pack are no obstacle
    ExpectIntact(when + " and packing again");
  });
}

// The index is rebuilt when it does not match the table (here: left behind by appends it missed).
// A rebuild that dies part way must still leave an index that the next open can read and rebuild.
class RebuildCrashTest : public JournalTest {
 protected:
  RebuildCrashTest() : JournalTest(400) {}
  void SetUp() override {
    JournalTest::SetUp();
    const auto stale = ReadBytes(mdxPath_);
    Table table;
    table.SetCodePage(866);
    table.Open(path_);
    for (int i = 400; i < 900; ++i) AppendRow(table, SampleRow(i));
    table.Close();
    for (int i = 0; i < 900; ++i) rows_.push_back(SampleRow(i));
    Snapshot();
    mdx_ = stale;
    Restore();
  }

  static void OpenNow(const std::string& path) {
    Table table;
    table.Open(path);
  }

  std::vector<JournalRow> rows_;
};

TEST_F(RebuildCrashTest, ProcessDyingAtAnyStepLeavesAnIndexThatIsRebuilt) {
  const long long steps = StepsOf([&] { OpenNow(path_); });
  ASSERT_GE(steps, 3);
  DieAtEachStep(steps, [&] { OpenNow(path_); },
                [&](const std::string& when) { ExpectTableHolds(path_, mdxPath_, rows_, when); });
}

// A rebuild that fails for lack of space does not stop reading: the records come from the table,
// and the stale index is rebuilt by the next append that has room.
TEST_F(RebuildCrashTest, RebuildFailingForLackOfSpaceStillReads) {
  for (long long step = 1; step <= 3; ++step) {
    const std::string when = "failing at step " + std::to_string(step);
    Table table;
    table.SetCodePage(866);
    io_fault::Arm(step, io_fault::Action::Throw);
    ASSERT_NO_THROW(table.Open(path_)) << when;
    EXPECT_EQ(ReadRows(table), rows_) << when;
    io_fault::Disarm();
    AppendRow(table, SampleRow(900));
    table.Close();
    ExpectIndexMatchesTable(path_, mdxPath_, when);
    Restore();
  }
}

}  // namespace
}  // namespace dbase::test
