// A pack that fails or dies at any of its writes (including flushes and renames) leaves a table
// that opens with all its live records and an index that matches it; so does a rebuild of a stale
// index that dies at any of its writes.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "dbase/io_fault.h"
#include "dbase/table.h"
#include "dbase/table_internal.h"
#include "tests/dbase/test_support.h"

namespace dbase::test {
namespace {

// Clears leftovers of a pack or rebuild of `path` as the journal's prepare does, while another
// holder has the table open (unless a pack holds it): all go, or none while it is `underWay`.
// Answers which temporary files there were (bit 0 the table's, bit 1 the index's).
int ClearLeftovers(const std::string& path, const std::string& mdxPath, bool underWay,
                   const std::string& when) {
  const auto there = [&] {
    return int{std::filesystem::exists(path + ".tmp")} |
           int{std::filesystem::exists(mdxPath + ".tmp")} << 1;
  };
  const int before = there();
  File holder(path, O_RDWR);
  holder.TryLock(detail::kPresenceLock, LockMode::Shared);
  Table::RemoveAbandonedTempFiles(path);
  EXPECT_EQ(there(), underWay ? before : 0) << when;
  return before;
}

// Clears leftovers just before step `step` of a pack or rebuild, adding those found to `seen`.
void ClearLeftoversAt(long long step, const std::string& path, const std::string& mdxPath,
                      int& seen) {
  io_fault::RunAt(step, [&path, &mdxPath, &seen, step] {
    seen |= ClearLeftovers(path, mdxPath, true, "before step " + std::to_string(step));
  });
}

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

// Leftovers cleared from another descriptor just before the failing step stay: the pack is
// still under way.
TEST_F(PackCrashTest, FailedWriteAtAnyStepKeepsAllRecords) {
  const long long steps = StepsOfAPack();
  ASSERT_GE(steps, 6);
  int seen = 0;
  for (long long step = 1; step <= steps; ++step) {
    io_fault::Arm(step, io_fault::Action::Throw);
    ClearLeftoversAt(step, path_, mdxPath_, seen);
    EXPECT_THROW(PackNow(path_), Error) << "step " << step;
    io_fault::Disarm();
    ExpectIntact("after a failure at step " + std::to_string(step));
    Restore();
  }
  EXPECT_EQ(seen, 3);
}

// What the dead pack left is cleared, also while another holder has the table open.
TEST_F(PackCrashTest, ProcessDyingAtAnyStepKeepsAllRecords) {
  int leftovers = 0;
  DieAtEachStep(StepsOfAPack(), [&] { PackNow(path_); }, [&](const std::string& when) {
    leftovers |= ClearLeftovers(path_, mdxPath_, false, when);
    ExpectIntact(when);
    ASSERT_NO_THROW(PackNow(path_)) << when;
    ExpectIntact(when + " and packing again");
  });
  EXPECT_EQ(leftovers, 3);
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
  int leftovers = 0;
  DieAtEachStep(steps, [&] { OpenNow(path_); }, [&](const std::string& when) {
    leftovers |= ClearLeftovers(path_, mdxPath_, false, when);
    ExpectTableHolds(path_, mdxPath_, rows_, when);
  });
  EXPECT_EQ(leftovers, 2);
}

// A rebuild that fails for lack of space does not stop reading: the records come from the table,
// and the stale index is rebuilt by the next append that has room. Leftovers cleared from another
// descriptor just before the failing step stay: the rebuild is still under way.
TEST_F(RebuildCrashTest, RebuildFailingForLackOfSpaceStillReads) {
  int seen = 0;
  for (long long step = 1; step <= 3; ++step) {
    const std::string when = "failing at step " + std::to_string(step);
    Table table;
    table.SetCodePage(866);
    io_fault::Arm(step, io_fault::Action::Throw);
    ClearLeftoversAt(step, path_, mdxPath_, seen);
    ASSERT_NO_THROW(table.Open(path_)) << when;
    EXPECT_EQ(ReadRows(table), rows_) << when;
    io_fault::Disarm();
    AppendRow(table, SampleRow(900));
    table.Close();
    ExpectIndexMatchesTable(path_, mdxPath_, when);
    Restore();
  }
  EXPECT_EQ(seen, 2);
}

}  // namespace
}  // namespace dbase::test
