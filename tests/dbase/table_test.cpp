// Round trips through the table API: fields, code page, deletion, counting, filtering, packing.
#include "dbase/table.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "dbase/io_fault.h"
#include "tests/dbase/test_support.h"

namespace dbase::test {
namespace {

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateJournal(path_); }
  ScratchDir dir_;
  std::string path_ = dir_.File("transact.dbf");
};

TEST_F(TableTest, AppendedRowsReadBackInAppendOrderAcrossReopen) {
  std::vector<JournalRow> expected;
  {
    Table table;
    table.SetCodePage(866);
    table.Open(path_);
    for (int i = 0; i < 200; ++i) {
      expected.push_back(SampleRow(i));
      AppendRow(table, expected.back());
    }
    EXPECT_EQ(ReadRows(table), expected);
  }
  Table reopened;
  reopened.SetCodePage(866);
  reopened.Open(path_);
  EXPECT_EQ(ReadRows(reopened), expected);
  EXPECT_EQ(reopened.ExactRecordCount(), 200);
}

TEST_F(TableTest, PostedRecordIsCurrentAndHeaderCountsIt) {
  Table table;
  table.SetCodePage(866);
  table.Open(path_);
  EXPECT_TRUE(table.Eof());
  AppendRow(table, {"A1", 7, "20260101000000", "0000ABCD"});
  EXPECT_FALSE(table.Eof());
  EXPECT_EQ(table.RecordNumber(), 1u);
  EXPECT_EQ(table.FieldAsString("CARD"), "0000ABCD");
  table.Close();
  const auto bytes = ReadBytes(path_);
  ASSERT_EQ(bytes.size(), 161u + 36u + 1u);
  EXPECT_EQ(bytes[4], 1);         // record count
  EXPECT_EQ(bytes.back(), 0x1A);  // end-of-file mark after the record
  EXPECT_EQ(bytes[161], ' ');     // live
  EXPECT_EQ(std::string(bytes.begin() + 172, bytes.begin() + 175), "  7");  // right-aligned number
}

TEST_F(TableTest, TextIsCutToWidthByCharactersAndUnmappableReplaced) {
  Table table;
  table.SetCodePage(866);
  table.Open(path_);
  table.Append();
  table.SetFieldString("ID", "Контроллер-номер-один");  // 21 characters, 40 UTF-8 bytes
  table.SetFieldString("CARD", "€😀ab\xff");             // no cp866 for these; invalid UTF-8 byte
  table.SetFieldInteger("EVENT", 255);
  table.Post();
  EXPECT_EQ(table.FieldAsString("ID"), "Контроллер");
  EXPECT_EQ(table.FieldAsString("CARD"), "??ab?");
  EXPECT_EQ(table.FieldAsInteger("EVENT"), 255);
  table.Close();
  const auto bytes = ReadBytes(path_);
  // "К" is 0x8A in code page 866; the record starts after the 161-byte header.
  EXPECT_EQ(bytes[162], 0x8A);
  EXPECT_EQ(bytes[29], 0x26);
}

TEST_F(TableTest, CodePageComesFromTheFileWhenNotSet) {
  {
    Table table;
    table.SetCodePage(866);
    table.Open(path_);
    AppendRow(table, {"Ёлка", 1, "20260101000000", ""});
  }
  Table plain;
  plain.Open(path_);
  EXPECT_EQ(plain.FieldAsString("ID"), "Ёлка");
}

TEST_F(TableTest, DeleteSkipsRecordAndCountsOnlyLiveOnes) {
  Table table;
  table.SetCodePage(866);
  table.Open(path_);
  for (int i = 0; i < 10; ++i) AppendRow(table, SampleRow(i));
  table.First();
  table.Delete();  // record 1
  EXPECT_EQ(table.RecordNumber(), 2u);
  table.Next();
  table.Next();
  table.Delete();  // record 4
  EXPECT_EQ(table.RecordNumber(), 5u);
  EXPECT_EQ(table.ExactRecordCount(), 8);
  table.Close();
  table.Open(path_);
  std::vector<std::uint32_t> seen;
  for (table.First(); !table.Eof(); table.Next()) seen.push_back(table.RecordNumber());
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{2, 3, 5, 6, 7, 8, 9, 10}));
  const auto bytes = ReadBytes(path_);
  EXPECT_EQ(bytes[161], '*');
  EXPECT_EQ(bytes[161 + 3 * 36], '*');
}

TEST_F(TableTest, FilterSelectsRecordsAndDeleteThroughFilterMovesToNextMatch) {
  Table table;
  table.SetCodePage(866);
  table.Open(path_);
  for (int i = 0; i < 50; ++i) AppendRow(table, SampleRow(i));
  table.SetRecordFilter([](const Table& t) { return t.FieldAsString("ID") == "CTRL-01"; });
  table.SetFiltered(true);
  int matches = 0;
  for (table.First(); !table.Eof() && matches < 100; table.Next()) {
    EXPECT_EQ(table.FieldAsString("ID"), "CTRL-01");
    ++matches;
  }
  EXPECT_EQ(matches, 15);                   // i % 7 in {0, 4}
  EXPECT_EQ(table.ExactRecordCount(), 50);  // not filtered

  table.First();
  for (int guard = 0; !table.Eof() && guard < 100; ++guard) table.Delete();
  table.SetFiltered(false);
  EXPECT_EQ(table.ExactRecordCount(), 35);
  for (table.First(); !table.Eof(); table.Next()) EXPECT_NE(table.FieldAsString("ID"), "CTRL-01");
}

TEST_F(TableTest, JournalCycleKeepsCapacityLiveRecords) {
  Table table;
  table.SetCodePage(866);
  constexpr int kCapacity = 20;
  for (int i = 0; i < 60; ++i) {
    table.Open(path_);
    AppendRow(table, SampleRow(i));
    if (table.ExactRecordCount() > kCapacity) {
      table.First();
      table.Delete();
    }
    table.Close();
  }
  table.Open(path_);
  const auto rows = ReadRows(table);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kCapacity));
  EXPECT_EQ(rows.front(), SampleRow(40));
  EXPECT_EQ(rows.back(), SampleRow(59));
}

TEST_F(TableTest, PackDropsDeletedRecordsAndKeepsOrder) {
  Table table;
  table.SetCodePage(866);
  table.Open(path_);
  std::vector<JournalRow> kept;
  for (int i = 0; i < 300; ++i) AppendRow(table, SampleRow(i));
  table.First();
  for (int i = 0; i < 300 && !table.Eof(); ++i) {
    if (i % 3 == 0) {
      table.Delete();
    } else {
      kept.push_back(SampleRow(i));
      table.Next();
    }
  }
  ASSERT_TRUE(table.TryExclusiveAccess());
  table.Pack();
  table.EndExclusiveAccess();
  EXPECT_EQ(ReadRows(table), kept);
  table.Close();
  EXPECT_EQ(ReadBytes(path_).size(), 161u + 36u * kept.size() + 1u);
  EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp"));
  table.Open(path_);
  EXPECT_EQ(ReadRows(table), kept);
  AppendRow(table, SampleRow(1000));  // appends after a pack go to the packed file
  table.Close();
  table.Open(path_);
  EXPECT_EQ(table.ExactRecordCount(), static_cast<long long>(kept.size()) + 1);
}

TEST_F(TableTest, PackWithoutDeletedRecordsKeepsEverything) {
  Table table;
  table.SetCodePage(866);
  table.Open(path_);
  std::vector<JournalRow> rows;
  for (int i = 0; i < 70; ++i) {
    rows.push_back(SampleRow(i));
    AppendRow(table, rows.back());
  }
  const auto before = ReadBytes(path_);
  ASSERT_TRUE(table.TryExclusiveAccess());
  table.Pack();
  table.EndExclusiveAccess();
  table.Close();
  const auto after = ReadBytes(path_);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin() + 32, before.end(), after.begin() + 32));  // all but dates
  table.Open(path_);
  EXPECT_EQ(ReadRows(table), rows);
}

TEST_F(TableTest, PackOfEmptyAndFullyDeletedTables) {
  Table table;
  table.SetCodePage(866);
  table.Open(path_);
  ASSERT_TRUE(table.TryExclusiveAccess());
  table.Pack();
  EXPECT_TRUE(table.Eof());
  for (int i = 0; i < 5; ++i) AppendRow(table, SampleRow(i));
  table.First();
  for (int guard = 0; !table.Eof() && guard < 10; ++guard) table.Delete();
  table.Pack();
  EXPECT_EQ(table.ExactRecordCount(), 0);
  table.Close();
  EXPECT_EQ(ReadBytes(path_).size(), 162u);
}

TEST_F(TableTest, MisuseRaisesErrorsNamingTheTable) {
  Table table;
  EXPECT_THROW(table.First(), Error);
  table.SetCodePage(866);
  table.Open(path_);
  EXPECT_THROW(table.SetFieldString("ID", "x"), Error);  // no Append
  table.Append();
  EXPECT_THROW(table.SetFieldString("NOPE", "x"), Error);
  EXPECT_THROW(table.SetFieldString("EVENT", "abc"), Error);
  EXPECT_THROW(table.SetFieldInteger("EVENT", 1000), Error);  // 4 digits in N3
  table.Cancel();
  EXPECT_THROW(table.Pack(), Error);                          // shared access only
  EXPECT_THROW(table.AddIndexTag("EV_IND", "EVENT"), Error);  // numeric keys are not served
  EXPECT_THROW(table.AddIndexTag("ID_IND", "ID"), Error);     // tag exists
  ASSERT_TRUE(table.TryExclusiveAccess());
  {
    const Table::WriteScope scope(table);
    try {
      table.Pack();
      FAIL() << "the pack would replace the descriptor holding the lock";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::Usage) << e.what();
    }
  }
  table.EndExclusiveAccess();
  try {
    table.Delete();
    FAIL() << "Delete on an empty table";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(path_), std::string::npos) << e.what();
  }
}

// Publishing a new table never replaces a table another creator published (and appended to) just
// before this creation's own publish, and while a creation publishes, an opener waits until the
// index is in place too: with hard links, with a rename that refuses to replace where they are
// missing, and with a plain rename where that is missing too (it looks for the name first). Other
// errors of those calls are raised.
TEST_F(TableTest, CreatingWhenMissingLeavesAnExistingTableAlone) {
  const auto removeAll = [&] {
    for (const auto& name : {"transact.dbf", "transact.mdx"})
      std::filesystem::remove(dir_.File(name));
  };
  const auto files = [&] {
    return std::distance(std::filesystem::directory_iterator(dir_.Path()),
                         std::filesystem::directory_iterator());
  };
  const auto create = [&] {
    return Table().CreateTable(path_, JournalFields(), CreateMode::IfMissing, {{"ID_IND", "ID"}});
  };
  const auto countSteps = [&] {
    removeAll();
    io_fault::Arm(0, io_fault::Action::Throw);
    EXPECT_TRUE(create());
    removeAll();
    return io_fault::Steps();
  };
  const long long publish = countSteps() - 2;  // then rename the index and flush the folder
  const std::vector<std::pair<int, int>> refusals = {  // link, renameat2 with RENAME_NOREPLACE
      {0, 0},     {EPERM, 0},      {EOPNOTSUPP, 0},     {ENOSYS, 0},
      {EXDEV, 0}, {EPERM, EINVAL}, {EPERM, EOPNOTSUPP}, {EPERM, ENOSYS}};
  for (const auto& [linkError, renameError] : refusals) {
    SCOPED_TRACE("link " + std::to_string(linkError) + ", rename " + std::to_string(renameError));
    const io_fault::Refusal link(io_fault::Call::Link, linkError);
    const io_fault::Refusal rename(io_fault::Call::RenameNoReplace, renameError);
    // Another creator publishes at the step of this one's last call that could still notice.
    io_fault::RunAt(publish + (linkError != 0 ? 1 : 0), [&] {
      CreateJournal(path_);
      Table winner;
      winner.SetCodePage(866);
      winner.Open(path_);
      AppendRow(winner, SampleRow(1));
    });
    EXPECT_FALSE(create());
    io_fault::Disarm();
    Table table;
    table.SetCodePage(866);
    table.Open(path_);
    EXPECT_EQ(ReadRows(table), (std::vector<JournalRow>{SampleRow(1)}));
    EXPECT_EQ(table.IndexTagNames(), (std::vector<std::string>{"ID_IND", "EDATE_IND"}));
    table.Close();
    EXPECT_EQ(files(), 2);
    bool openerBusy = false;
    const io_fault::VirtualClock clock;
    io_fault::RunAt(countSteps() - 1, [&] {  // the table is there, its index not yet
      Table opener;
      opener.SetLockTimeout(std::chrono::milliseconds(50));
      try {
        opener.Open(path_);
      } catch (const Error& e) {
        openerBusy = e.Kind() == ErrorKind::Busy;
      }
    });
    EXPECT_TRUE(create());
    io_fault::Disarm();
    EXPECT_TRUE(openerBusy);
    table.Open(path_);
    EXPECT_EQ(table.IndexTagNames(), (std::vector<std::string>{"ID_IND"}));
    table.Close();
    EXPECT_EQ(files(), 2);
    removeAll();
  }
  WriteBytes(dir_.File("other"), {1, 2, 3});
  for (const auto& [linkError, renameError] : {std::pair{EACCES, 0}, std::pair{EPERM, EACCES}}) {
    const io_fault::Refusal link(io_fault::Call::Link, linkError);
    const io_fault::Refusal rename(io_fault::Call::RenameNoReplace, renameError);
    EXPECT_THROW(LinkNewFile(dir_.File("other"), path_), Error) << linkError << " " << renameError;
  }
}

TEST(TableCreate, RejectsBadDefinitions) {
  ScratchDir dir;
  Table table;
  const std::string path = dir.File("t.dbf");
  EXPECT_THROW(table.CreateTable(path, {}), Error);
  EXPECT_THROW(table.CreateTable(path, {{"TOOLONGNAME1", FieldType::Character, 5}}), Error);
  EXPECT_THROW(table.CreateTable(path, {{"A", FieldType::Character, 0}}), Error);
  EXPECT_THROW(table.CreateTable(path, {{"A", FieldType::Character, 5, 2}}), Error);
  EXPECT_THROW(table.CreateTable(path, {{"A", FieldType::Numeric, 21}}), Error);
  EXPECT_THROW(
      table.CreateTable(path, {{"A", FieldType::Character, 5}, {"a", FieldType::Numeric, 3}}),
      Error);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(TableCreate, NumericDecimalsAndNegativeNumbers) {
  ScratchDir dir;
  const std::string path = dir.File("n.dbf");
  Table table;
  table.CreateTable(path,
                    {{"AMOUNT", FieldType::Numeric, 8, 2}, {"NAME", FieldType::Character, 4}});
  table.Open(path);
  table.Append();
  table.SetFieldInteger("AMOUNT", -42);
  table.SetFieldInteger("NAME", 12345);  // cut to the width like any text
  table.Post();
  EXPECT_EQ(table.FieldAsString("AMOUNT"), "-42.00");
  EXPECT_EQ(table.FieldAsInteger("AMOUNT"), -42);
  EXPECT_EQ(table.FieldAsString("NAME"), "1234");
  table.Append();
  table.Post();  // a blank record
  EXPECT_EQ(table.FieldAsString("AMOUNT"), "");
  EXPECT_EQ(table.FieldAsInteger("AMOUNT"), 0);
  table.Close();
  EXPECT_FALSE(std::filesystem::exists(dir.File("n.mdx")));  // no tags, no index file
  EXPECT_EQ(ReadBytes(path)[28], 0);
}

TEST(CodePage, AllOfCp866RoundTrips) {
  const CodePage& cp = SharedCodePage(866);
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
  EXPECT_EQ(cp.Encode(cp.Decode(bytes), 1000), bytes);
  EXPECT_EQ(cp.Decode("\x8F\xE0\xA8\xA2\xA5\xE2"), "Привет");
}

}  // namespace
}  // namespace dbase::test
