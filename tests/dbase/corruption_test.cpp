// Damaged tables and indexes raise clear errors naming the file and are never read out of bounds;
// what a crash or power cut leaves (a table cut short, an index lost) is repaired without loss.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "dbase/io_fault.h"
#include "dbase/table.h"
#include "tests/dbase/test_support.h"

namespace dbase::test {
namespace {

class CorruptionTest : public JournalTest {
 protected:
  CorruptionTest() : JournalTest(10) {}
  void SetUp() override {
    JournalTest::SetUp();
    Snapshot();
  }

  // Damages a copy of the good table and expects Open to fail with `kind`, naming the file.
  void ExpectRejected(const std::function<void(std::vector<std::uint8_t>&)>& damage, ErrorKind kind,
                      const std::string& file) {
    auto bytes = dbf_;
    damage(bytes);
    WriteBytes(path_, bytes);
    Table table;
    try {
      table.Open(path_);
      ADD_FAILURE() << "opened a damaged table";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), kind) << e.what();
      EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
    }
    EXPECT_FALSE(table.Active());
  }

  std::vector<JournalRow> FirstRows(std::size_t count) const {
    std::vector<JournalRow> rows;
    for (std::size_t i = 0; i < count; ++i) rows.push_back(SampleRow(static_cast<int>(i)));
    return rows;
  }
};

TEST_F(CorruptionTest, HeaderThatDoesNotAddUp) {
  ExpectRejected([](auto& b) { b.resize(20); }, ErrorKind::Corrupt, path_);
  ExpectRejected([](auto& b) { b.resize(100); }, ErrorKind::Corrupt, path_);  // descriptors cut
  ExpectRejected([](auto& b) { b[10] = 37; }, ErrorKind::Corrupt, path_);  // record length
  ExpectRejected(
      [](auto& b) {
        b[8] = 0xFF;
        b[9] = 0x7F;
      },
      ErrorKind::Corrupt, path_);  // header length
  ExpectRejected(
      [](auto& b) {
        b[8] = 40;
        b[9] = 0;
      },
      ErrorKind::Corrupt, path_);
  ExpectRejected([](auto& b) { b[0] = 0x30; }, ErrorKind::Unsupported, path_);  // other version
}

TEST_F(CorruptionTest, BadFieldDescriptors) {
  ExpectRejected([](auto& b) { b[160] = 0; }, ErrorKind::Corrupt, path_);         // no terminator
  ExpectRejected([](auto& b) { b[32] = 0; }, ErrorKind::Corrupt, path_);          // empty name
  ExpectRejected([](auto& b) { b[32 + 11] = 0x07; }, ErrorKind::Corrupt, path_);  // type byte
  ExpectRejected([](auto& b) { b[32 + 11] = 'M'; }, ErrorKind::Unsupported, path_);
  ExpectRejected([](auto& b) { b[32 + 17] = 1; }, ErrorKind::Corrupt, path_);  // C decimals
  ExpectRejected([](auto& b) { b[32 + 16] = 0; }, ErrorKind::Corrupt, path_);  // zero width
  ExpectRejected(
      [](auto& b) {
        b[64] = 'I';
        b[65] = 'D';
        b[66] = 0;
      },
      ErrorKind::Corrupt, path_);  // twice
}

// A header counting more records than the file holds, as a power cut between the writes of an
// append leaves it: every whole record is kept, the rest cut off after a new end mark, the header
// and index made to agree. Each write of the repair and rebuild fails in turn (a full disk): that
// open still reads the whole records, and the next append follows them with the index in step.
TEST_F(CorruptionTest, TableCutShortKeepsEveryWholeRecord) {
  {
    Table table;
    table.Open(path_);
    AppendRow(table, SampleRow(10));
  }
  const auto dbf11 = ReadBytes(path_);
  // The 11th append's leaf reached the disk, the index header with its stamp did not.
  auto newLeafOldHead = ReadBytes(mdxPath_);
  std::copy_n(mdx_.begin(), 512, newLeafOldHead.begin());
  struct Cut {
    const std::vector<std::uint8_t>& dbf;
    const std::vector<std::uint8_t>& mdx;
    std::size_t size;
    std::size_t whole;
  };
  const std::vector<Cut> cuts = {
      {dbf_, mdx_, 161 + 9 * 36 + 17, 9},  // the last record cut short
      {dbf_, mdx_, 161 + 10 * 36 - 1, 9},  // one byte short
      {dbf_, mdx_, 161 + 9 * 36, 9},       // end mark lost at a record boundary
      {dbf_, mdx_, 161 + 3 * 36, 3},       // several records lost
      {dbf11, newLeafOldHead, 161 + 10 * 36 + 17, 10},
  };
  for (const Cut& cut : cuts) {
    for (long long failAt = 0;; ++failAt) {
      const std::string when =
          "cut to " + std::to_string(cut.size) + " bytes, write " + std::to_string(failAt) + " fails";
      auto bytes = cut.dbf;
      bytes.resize(cut.size);
      WriteBytes(path_, bytes);
      WriteBytes(mdxPath_, cut.mdx);
      Table table;
      table.SetCodePage(866);
      io_fault::Arm(failAt, io_fault::Action::Throw);
      ASSERT_NO_THROW(table.Open(path_)) << when;
      const bool faultMissed = io_fault::Steps() < failAt;
      io_fault::Disarm();
      // Repaired (the header counts the whole records): the end mark follows them, nothing after.
      const auto opened = ReadBytes(path_);
      ASSERT_TRUE(opened[4] == cut.whole || failAt > 0) << when;
      if (opened[4] == cut.whole) {
        EXPECT_EQ(opened.size(), 161 + cut.whole * 36 + 1) << when;
        EXPECT_EQ(opened.back(), kEndOfFile) << when;
      }
      EXPECT_EQ(ReadRows(table), FirstRows(cut.whole)) << when;
      AppendRow(table, SampleRow(static_cast<int>(cut.whole)));
      table.Close();
      const auto repaired = ReadBytes(path_);
      ASSERT_EQ(repaired.size(), 161 + (cut.whole + 1) * 36 + 1) << when;
      EXPECT_EQ(repaired.back(), kEndOfFile) << when;
      EXPECT_EQ(repaired[4], cut.whole + 1) << when;
      ExpectIndexMatchesTable(path_, mdxPath_, when);
      if (faultMissed) break;
    }
  }
}

// Without its tags named, a damaged index is an error naming it; with them (as the journal names
// them) it is built again from the table.
TEST_F(CorruptionTest, DamagedIndexNamesTheIndexFileOrIsRebuiltFromKnownTags) {
  const std::string mdx = mdxPath_;
  const auto goodIndex = mdx_;
  const std::vector<std::function<void(std::vector<std::uint8_t>&)>> damages = {
      [](auto& b) { b.clear(); },
      [](auto& b) { std::fill_n(b.begin(), 512, 0); },  // head zeroed
      [](auto& b) { b.resize(1000); },
      [](auto& b) { b[28] = 0; },  // no tags
      [](auto& b) {
        b[32] = 0xFF;
        b[33] = 0xFF;
      },                                    // more pages than the file
      [](auto& b) { b[544] = 3; },          // odd tag header page
      [](auto& b) { b[2048 + 24] = 'X'; },  // expression names no field
      [](auto& b) { b[2048 + 12] = 9; },    // key length differs from the field
  };
  for (std::size_t i = 0; i < damages.size(); ++i) {
    auto bytes = goodIndex;
    damages[i](bytes);
    WriteBytes(mdx, bytes);
    if (bytes.empty()) std::filesystem::remove(mdx);
    const std::string when = "damage " + std::to_string(i);
    Table table;
    try {
      table.Open(path_);
      ADD_FAILURE() << "opened with a damaged index: " << when;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(mdx), std::string::npos) << e.what();
    }
    table.SetCodePage(866);
    table.SetIndexTags({{"ID_IND", "ID"}, {"EDATE_IND", "EDATE"}});
    ASSERT_NO_THROW(table.Open(path_)) << when;
    EXPECT_EQ(ReadRows(table), FirstRows(10)) << when;
    table.Close();
    ExpectIndexMatchesTable(path_, mdx, when);
  }
}

// A table shrunk below its count while open is an error, also after a repair that found no room:
// counts stop at the whole records only while the header counts what it counted at that repair.
TEST_F(CorruptionTest, TableTruncatedWhileOpenIsReportedNotReadPast) {
  for (const bool repairFailed : {false, true}) {
    Restore();
    if (repairFailed) {
      auto cut = dbf_;
      cut.resize(161 + 9 * 36 + 17);
      WriteBytes(path_, cut);
    }
    Table table;
    io_fault::Arm(repairFailed ? 1 : 0, io_fault::Action::Throw);  // the index's update mark
    table.Open(path_);
    io_fault::Disarm();
    EXPECT_EQ(table.ExactRecordCount(), repairFailed ? 9 : 10);
    auto shrunk = ReadBytes(path_);
    shrunk[4] = 5;
    shrunk.resize(161 + 3 * 36);
    WriteBytes(path_, shrunk);
    EXPECT_THROW(table.ExactRecordCount(), Error) << repairFailed;
    EXPECT_THROW(table.First(), Error) << repairFailed;
  }
}

}  // namespace
}  // namespace dbase::test
