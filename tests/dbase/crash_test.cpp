// A pack that fails or dies at any of its writes (including flushes and renames) leaves a table
// that opens with all its live records and an index that matches it; so does a rebuild of a stale
// index that dies at any of its writes.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "dbase/io_fault.h"
#include "dbase/table.h"
#include "dbase/table_internal.h"
#include "tests/dbase/test_support.h"

namespace dbase::test {
namespace {

// Clears what a pack or rebuild that died left, as the journal's prepare does, while another
// holder has the table open; answers whether there was anything.
bool ClearLeftovers(const std::string& path, const std::string& mdxPath, const std::string& when) {
  const std::string temps[] = {path + ".tmp", mdxPath + ".tmp"};
  const bool left = std::filesystem::exists(temps[0]) || std::filesystem::exists(temps[1]);
  File holder(path, O_RDWR);
  EXPECT_TRUE(holder.TryLock(detail::kPresenceLock, LockMode::Shared));
  Table::RemoveAbandonedTempFiles(path);
  for (const std::string& temp : temps) EXPECT_FALSE(std::filesystem::exists(temp)) << when;
  return left;
}

// Runs `work` (a pack or a rebuild) once for each of its writes, clearing leftovers just before
// that write from another descriptor: the temporary files there stay, and `work` still succeeds.
void ClearLeftoversAtEachStep(const std::string& path, const std::string& mdxPath,
                              long long steps, const std::function<void()>& work,
                              const std::function<void(const std::string& when)>& check) {
  bool sawTemps = false;
  for (long long step = 1; step <= steps; ++step) {
    const std::string when = "cleared at step " + std::to_string(step);
    io_fault::RunAt(step, [&] {
      for (const std::string& temp : {path + ".tmp", mdxPath + ".tmp"}) {
        const bool there = std::filesystem::exists(temp);
        Table::RemoveAbandonedTempFiles(path);
        EXPECT_EQ(std::filesystem::exists(temp), there) << when << ": " << temp;
        sawTemps |= there;
      }
    });
    EXPECT_NO_THROW(work()) << when;
    io_fault::Disarm();
    check(when);
  }
  EXPECT_TRUE(sawTemps);
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
  int leftovers = 0;
  DieAtEachStep(StepsOfAPack(), [&] { PackNow(path_); }, [&](const std::string& when) {
    leftovers += ClearLeftovers(path_, mdxPath_, when);
    ExpectIntact(when);
    ASSERT_NO_THROW(PackNow(path_)) << when;
    ExpectIntact(when + " and packing again");
  });
  EXPECT_GT(leftovers, 0);
}

TEST_F(PackCrashTest, ClearingLeftoversDuringAPackLeavesItsFiles) {
  ClearLeftoversAtEachStep(path_, mdxPath_, StepsOfAPack(), [&] { PackNow(path_); },
                           [&](const std::string& when) {
                             ExpectIntact(when);
                             Restore();
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
  int leftovers = 0;
  DieAtEachStep(steps, [&] { OpenNow(path_); }, [&](const std::string& when) {
    leftovers += ClearLeftovers(path_, mdxPath_, when);
    ExpectTableHolds(path_, mdxPath_, rows_, when);
  });
  EXPECT_GT(leftovers, 0);
}

TEST_F(RebuildCrashTest, ClearingLeftoversDuringARebuildLeavesItsFile) {
  ClearLeftoversAtEachStep(path_, mdxPath_, StepsOf([&] { OpenNow(path_); }),
                           [&] { OpenNow(path_); },
                           [&](const std::string& when) {
                             ExpectIndexMatchesTable(path_, mdxPath_, when);
                             Restore();
                           });
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
