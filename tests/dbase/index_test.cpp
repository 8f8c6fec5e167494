// The production index: structure after creation, appends and packs, and rebuilding an index that
// does not match its table.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>

#include "dbase/io_fault.h"
#include "dbase/table.h"
#include "tests/dbase/mdx_checker.h"
#include "tests/dbase/test_support.h"

namespace dbase::test {
namespace {

class IndexTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateJournal(path_); }

  void AppendMany(int from, int count) {
    Table table;
    table.SetCodePage(866);
    table.Open(path_);
    for (int i = from; i < from + count; ++i) AppendRow(table, SampleRow(i));
  }

  // Checks both tags against the table's records; returns the depth of each tag.
  std::vector<int> ExpectIndexMatchesTable() {
    const MdxCheck check = CheckMdx(ReadBytes(mdx_));
    for (const auto& p : check.problems) ADD_FAILURE() << p;
    const auto dbf = ReadBytes(path_);
    EXPECT_EQ(dbf[28], 1);
    std::vector<int> levels;
    for (const TagWalk& tag : check.tags) {
      EXPECT_EQ(tag.keys, ExpectedKeys(dbf, tag.expression)) << tag.name;
      levels.push_back(tag.levels);
    }
    EXPECT_EQ(check.tags.size(), 2u);
    return levels;
  }

  ScratchDir dir_;
  std::string path_ = dir_.File("transact.dbf");
  std::string mdx_ = dir_.File("transact.mdx");
};

TEST_F(IndexTest, NewTableHasTwoEmptyTagsAndFlaggedFields) {
  const MdxCheck check = CheckMdx(ReadBytes(mdx_));
  EXPECT_TRUE(check.problems.empty());
  ASSERT_EQ(check.tags.size(), 2u);
  EXPECT_EQ(check.tags[0].name, "ID_IND");
  EXPECT_EQ(check.tags[0].expression, "ID");
  EXPECT_EQ(check.tags[1].name, "EDATE_IND");
  EXPECT_EQ(check.tags[1].expression, "EDATE");
  const auto dbf = ReadBytes(path_);
  EXPECT_EQ(dbf[28], 1);
  EXPECT_EQ(dbf[29], 0x26);
  EXPECT_EQ((std::vector<int>{dbf[32 + 31], dbf[64 + 31], dbf[96 + 31], dbf[128 + 31]}),
            (std::vector<int>{1, 0, 1, 0}));
  const auto mdx = ReadBytes(mdx_);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&mdx[4])), "TRANSACT");
  // The tag-name tree: "EDATE_IND" < "ID_IND", so slot 2 is slot 1's left child.
  EXPECT_EQ((std::vector<int>{mdx[544 + 16], mdx[544 + 17], mdx[544 + 18]}),
            (std::vector<int>{2, 0, 0}));
  EXPECT_EQ((std::vector<int>{mdx[576 + 16], mdx[576 + 17], mdx[576 + 18]}),
            (std::vector<int>{0, 0, 1}));
  Table table;
  table.Open(path_);
  EXPECT_EQ(table.IndexTagNames(), (std::vector<std::string>{"ID_IND", "EDATE_IND"}));
}

TEST_F(IndexTest, PackRebuildsFullTreesThatTakeFurtherAppends) {
  AppendMany(0, 4000);
  {
    Table table;
    table.SetCodePage(866);
    table.Open(path_);
    table.First();
    for (int i = 0; i < 4000 && !table.Eof(); ++i) {
      if (i % 4 == 1) {
        table.Delete();
      } else {
        table.Next();
      }
    }
    ASSERT_TRUE(table.TryExclusiveAccess());
    table.Pack();
  }
  ExpectIndexMatchesTable();
  AppendMany(4000, 1500);  // into full leaves: every tag splits at once
  ExpectIndexMatchesTable();
}

// 2550 records fill exactly 51 EDATE leaves of 50 keys: one more child than a node may have.
TEST_F(IndexTest, RebuildWithOneChildMoreThanANodeTakesSplitsTheLevel) {
  AppendMany(0, 2550);
  {
    Table table;
    table.SetExclusive(true);
    table.Open(path_);
    table.Pack();
  }
  const std::vector<int> levels = ExpectIndexMatchesTable();
  EXPECT_EQ(levels, (std::vector<int>{2, 3}));
}

TEST_F(IndexTest, DeletedRecordsKeepTheirKeysUntilPack) {
  AppendMany(0, 30);
  Table table;
  table.SetCodePage(866);
  table.Open(path_);
  table.First();
  table.Delete();
  table.Close();
  ExpectIndexMatchesTable();  // still all 30 records, deleted one included
}

TEST_F(IndexTest, IndexNotMatchingTheTableIsRebuiltOnOpen) {
  AppendMany(0, 300);
  const auto stale = ReadBytes(mdx_);
  AppendMany(300, 200);
  WriteBytes(mdx_, stale);  // as if the table had been appended to without the index
  {
    Table table;
    table.Open(path_);
  }
  ExpectIndexMatchesTable();
  // An index whose stamp says an update was under way is rebuilt, whatever its tree holds.
  auto damaged = ReadBytes(mdx_);
  damaged[60] = 1;
  const std::size_t root = 512u * (damaged[2048] | damaged[2049] << 8);
  std::fill_n(damaged.begin() + static_cast<std::ptrdiff_t>(root), 4, 0xFF);
  WriteBytes(mdx_, damaged);
  AppendMany(500, 1);
  ExpectIndexMatchesTable();
}

// An append that finds a node on its key's way down that cannot be one there rebuilds the index,
// also while another holder keeps the table open (so that no pack runs); that holder's next key
// goes into the rebuilt file without another rebuild. The damage is in one tag's root or in its
// last leaf, where the appended keys (above all others) go. Damage off that way is found by
// walking the whole index (CheckIndex), which marks the index stale before it rebuilds: a mark
// that cannot be written fails the walk, a rebuild that fails leaves the rebuild to the append.
TEST_F(IndexTest, AppendRebuildsATreeFoundDamagedWhileAnotherHolderHasItOpen) {
  AppendMany(0, 2200);  // grows trees of three levels (ID: splits inside runs of equal keys)
  ASSERT_EQ(ExpectIndexMatchesTable(), (std::vector<int>{3, 3}));
  const auto dbf = ReadBytes(path_);
  const auto mdx = ReadBytes(mdx_);
  const auto page = [&](std::size_t at) { return 512u * (mdx[at] | mdx[at + 1] << 8); };
  using Locate = std::function<std::size_t(std::size_t tagHeader)>;
  const auto field = [&](std::size_t at) -> Locate {
    return [=](std::size_t h) { return page(h + at); };
  };
  const Locate firstLeaf = field(248), root = field(0), lastLeaf = field(252);
  const Locate lastOfFirstChild = [&](std::size_t h) {  // the extra child of the root's first child
    const std::size_t child = page(page(h) + 8);
    return page(child + 8 + mdx[child] * mdx[h + 18]);
  };
  using Damage = std::function<void(std::uint8_t* node, std::size_t itemLength)>;
  const auto fill = [](std::size_t at, std::size_t count, std::uint8_t value) -> Damage {
    return [=](std::uint8_t* n, std::size_t) { std::fill_n(n + at, count, value); };
  };
  struct Case {
    Locate node;
    bool offTheWay;
    Damage damage;
  };
  const std::vector<Case> damages = {
      {firstLeaf, true, fill(0, 1024, 0)},
      {firstLeaf, true, fill(8 + 3, 1, 1)},  // its first entry's record beyond the table
      {firstLeaf, true, [](std::uint8_t* n, std::size_t item) {  // its last key lost
         --n[0];
         std::fill_n(n + 8 + n[0] * item, item, 0);
       }},
      {firstLeaf, true, [&](std::uint8_t* n, std::size_t item) {  // its last entry names the
         std::copy_n(&dbf[4], 4, n + 8 + (n[0] - 1) * item);        // last record, kept elsewhere
       }},
      {lastOfFirstChild, true, [](std::uint8_t* n, std::size_t item) {  // last key above its bound
         std::fill_n(n + 8 + (n[0] - 1) * item + 4, item - 4, 0xFF);
       }},
      {root, false, fill(0, 4, 0xFF)},  // a count too high
      {root, false, fill(0, 1024, 0)},
      {lastLeaf, false, fill(0, 1024, 0)},
      {lastLeaf, false, fill(8 + 3, 1, 1)},  // the first entry's record 2^24 + ...
      {lastLeaf, false, fill(8, 4, 0)},      // record 0
      {lastLeaf, false, fill(8 + 4, 1, 1)},  // its key below the separator before the leaf
      {lastLeaf, false, [](std::uint8_t* n, std::size_t item) {  // the last two entries swapped
         std::swap_ranges(n + 8 + (n[0] - 2) * item, n + 8 + (n[0] - 1) * item,
                          n + 8 + (n[0] - 1) * item);
       }}};
  const auto inode = [&] {
    struct stat st {};
    EXPECT_EQ(::stat(mdx_.c_str(), &st), 0);
    return st.st_ino;
  };
  for (std::size_t tag = 0; tag < 2; ++tag) {
    for (std::size_t d = 0; d < damages.size(); ++d) {
      SCOPED_TRACE("tag " + std::to_string(tag) + ", damage " + std::to_string(d));
      WriteBytes(path_, dbf);
      WriteBytes(mdx_, mdx);
      Table first;
      first.Open(path_);
      auto damaged = mdx;
      const std::size_t header = page(544 + 32 * tag);
      damages[d].damage(&damaged[damages[d].node(header)], mdx[header + 18]);
      WriteBytes(mdx_, damaged);
      {
        Table second;
        second.Open(path_);
        if (damages[d].offTheWay) {
          io_fault::Arm(1, io_fault::Action::Throw);  // the stale mark
          EXPECT_THROW(second.CheckIndex(), Error);
          io_fault::Arm(2, io_fault::Action::Throw);  // the rebuild's first write
          EXPECT_NO_THROW(second.CheckIndex());
          io_fault::Disarm();
        }
        AppendRow(second, {"ЯЯЯ", 1, "99991231235959", ""});
      }
      const ino_t rebuilt = inode();
      AppendRow(first, {"ЯЯЯ", 2, "99991231235959", ""});
      EXPECT_EQ(inode(), rebuilt);
      first.Close();
      ExpectIndexMatchesTable();
      if (d == 0) ExpectPerlWalkMatches(path_, mdx_);  // every case ends in the same files
    }
  }
}

TEST_F(IndexTest, IndexFlaggedButMissingIsAnError) {
  std::filesystem::remove(mdx_);
  Table table;
  try {
    table.Open(path_);
    FAIL() << "opened without its index";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::Corrupt);
    EXPECT_NE(std::string(e.what()).find("transact.mdx"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(table.Active());
}

// A process that dies at any write of an append leaves files that open with a correct index.
TEST_F(IndexTest, CrashAtAnyWriteOfAnAppendLeavesAConsistentTable) {
  AppendMany(0, 1300);  // deep enough for a split to write several blocks
  for (long long step = 1; step <= 60; ++step) {
    ASSERT_TRUE(ChildEndsAtInjectedExit([&] {
      Table table;
      table.SetCodePage(866);
      table.Open(path_);
      io_fault::Arm(step, io_fault::Action::Exit);
      for (int i = 0; i < 40; ++i) AppendRow(table, SampleRow(2000 + i));
    })) << "step " << step;
    Table table;
    table.Open(path_);
    const long long count = table.ExactRecordCount();
    EXPECT_GE(count, 1300);
    table.Close();
    ExpectIndexMatchesTable();
  }
}

// Both tags start as a single leaf that is also the root; the next appends split it, so the tag
// header names a root page that the file header does not count until the append completes. A
// process dying at any write of those appends still leaves files that open with a correct index.
TEST_F(IndexTest, CrashWhileTheRootSplitsLeavesAConsistentTable) {
  AppendMany(0, 45);
  const auto dbf = ReadBytes(path_);
  const auto mdx = ReadBytes(mdx_);
  io_fault::Disarm();
  AppendMany(45, 25);
  ASSERT_EQ(ExpectIndexMatchesTable(), (std::vector<int>{2, 2}));  // both roots did split
  const long long steps = io_fault::Steps();
  for (long long step = 1; step <= steps; ++step) {
    WriteBytes(path_, dbf);
    WriteBytes(mdx_, mdx);
    ASSERT_TRUE(ChildEndsAtInjectedExit([&] {
      io_fault::Arm(step, io_fault::Action::Exit);
      AppendMany(45, 25);
    })) << "step " << step;
    Table table;
    ASSERT_NO_THROW(table.Open(path_)) << "step " << step;
    EXPECT_GE(table.ExactRecordCount(), 45) << "step " << step;
    table.Close();
    ExpectIndexMatchesTable();
  }
}

}  // namespace
}  // namespace dbase::test
