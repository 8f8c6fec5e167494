// Independent readers agree with the library: Debian's python3-dbfread and python3-dbf read the
// table, Perl's XBase::Index and Free Pascal's TDbf walk both index tags, and the library reads a
// table that python3-dbf wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "dbase/table.h"
#include "tests/dbase/mdx_checker.h"
#include "tests/dbase/test_support.h"

namespace dbase::test {
namespace {

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Cuts the table's last record short and removes its index, as a power cut may leave them, then
// opens it with the journal's tags, which repairs both.
void RepairAfterPowerCut(const std::string& path, const std::string& mdxPath) {
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 20);
  std::filesystem::remove(mdxPath);
  Table table;
  table.SetIndexTags({{"ID_IND", "ID"}, {"EDATE_IND", "EDATE"}});
  table.Open(path);
}

// Appends `count` sample rows and deletes every seventh record.
std::vector<bool> FillJournal(const std::string& path, int count) {
  Table table;
  table.SetCodePage(866);
  table.Open(path);
  for (int i = 0; i < count; ++i) AppendRow(table, SampleRow(i));
  std::vector<bool> deleted(static_cast<std::size_t>(count), false);
  table.First();
  for (int i = 0; i < count && !table.Eof(); ++i) {
    if (i % 7 == 3) {
      table.Delete();
      deleted[static_cast<std::size_t>(i)] = true;
    } else {
      table.Next();
    }
  }
  return deleted;
}

class ReadersTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateJournal(path_); }
  ScratchDir dir_;
  std::string path_ = dir_.File("transact.dbf");
  std::string mdx_ = dir_.File("transact.mdx");
};

TEST_F(ReadersTest, PythonReadersSeeFieldsRecordsDeletionFlagsAndCyrillic) {
  const int kCount = 400;
  const std::vector<bool> deleted = FillJournal(path_, kCount);
  // Before and after the last record is cut short and repaired.
  for (const int count : {kCount, kCount - 1}) {
    if (count < kCount) RepairAfterPowerCut(path_, mdx_);
    std::ostringstream json;
    json << R"({"fields": [["ID","C",10,0],["EVENT","N",3,0],["EDATE","C",14,0],["CARD","C",8,0]],)"
         << R"( "records": [)";
    for (int i = 0; i < count; ++i) {
      const JournalRow row = SampleRow(i);
      json << (i ? "," : "") << R"({"deleted": )"
           << (deleted[static_cast<std::size_t>(i)] ? "true" : "false") << R"(, "values": {"ID": )"
           << Json(row.id) << R"(, "EVENT": )" << row.event << R"(, "EDATE": )" << Json(row.edate)
           << R"(, "CARD": )" << Json(row.card) << "}}";
    }
    json << "]}";
    const std::string expected = dir_.File("expected.json");
    {
      std::FILE* f = std::fopen(expected.c_str(), "w");
      ASSERT_NE(f, nullptr);
      const std::string text = json.str();
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
    const CommandResult r =
        RunCommand("/usr/bin/python3 " + OracleDir() + "/check_dbf.py " + path_ + " " + expected);
    EXPECT_EQ(r.exitCode, 0) << count << ": " << r.output;
  }
}

TEST_F(ReadersTest, PerlIndexReaderWalksAndSeeksBothTags) {
  FillJournal(path_, 5000);
  const MdxCheck check = CheckMdx(ReadBytes(mdx_));
  ASSERT_EQ(check.tags.size(), 2u);
  EXPECT_GE(check.tags[0].levels, 2);
  EXPECT_GE(check.tags[1].levels, 3);
  ExpectPerlWalkMatches(path_, mdx_);
  {
    Table table;
    table.Open(path_);
    ASSERT_TRUE(table.TryExclusiveAccess());
    table.Pack();
  }
  ExpectPerlWalkMatches(path_, mdx_);
  RepairAfterPowerCut(path_, mdx_);
  ExpectPerlWalkMatches(path_, mdx_);
}

TEST_F(ReadersTest, FreePascalTdbfWalksBothTags) {
  if (RunCommand("command -v fpc").exitCode != 0) GTEST_SKIP() << "fpc is not installed";
  const std::string out = std::string(DBASE_SCRATCH_DIR) + "/fpc";
  std::filesystem::create_directories(out);
  const CommandResult build =
      RunCommand("fpc -O1 -FE" + out + " -FU" + out + " " + OracleDir() + "/walk_tags.pas", 300);
  ASSERT_EQ(build.exitCode, 0) << build.output;

  // 2975 records, 2550 of them live: after the pack the EDATE tag has exactly 51 full leaves, one
  // more than a node may point to, which is where an over-full interior node would appear.
  const std::vector<bool> deleted = FillJournal(path_, 2975);
  auto live = std::count(deleted.begin(), deleted.end(), false);
  ASSERT_EQ(live, 2550);
  for (const std::string state : {"appended", "packed", "repaired"}) {
    if (state == "packed") {
      Table table;
      table.SetExclusive(true);
      table.Open(path_);
      table.Pack();
    } else if (state == "repaired") {
      RepairAfterPowerCut(path_, mdx_);
      --live;  // the last record, which was live
    }
    const auto dbf = ReadBytes(path_);
    std::ostringstream expected;
    for (const auto& [tag, field] : {std::pair{"ID_IND", "ID"}, std::pair{"EDATE_IND", "EDATE"}}) {
      for (const auto& entry : ExpectedKeys(dbf, field))
        expected << tag << " " << entry.second << "\n";
    }
    expected << "count " << live << "\n";
    const CommandResult walk = RunCommand(out + "/walk_tags " + path_, 120);
    ASSERT_EQ(walk.exitCode, 0) << walk.output.substr(0, 2000);
    EXPECT_EQ(walk.output, expected.str()) << state;
  }
}

TEST_F(ReadersTest, LibraryReadsAndExtendsATableWrittenByPythonDbf) {
  const std::string path = dir_.File("other.dbf");
  const std::string rows = dir_.File("rows.json");
  {
    std::FILE* f = std::fopen(rows.c_str(), "w");
    ASSERT_NE(f, nullptr);
    const std::string text =
        R"({"rows": [["Иванов", 12, "первая запись"], ["Smith", 0, ""], ["Пётр", 99999, "ёЁ"]], "delete": [1]})";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  const CommandResult made =
      RunCommand("/usr/bin/python3 " + OracleDir() + "/make_dbf.py " + path + " " + rows);
  ASSERT_EQ(made.exitCode, 0) << made.output;

  Table table;
  table.Open(path);  // code page from the file's language driver
  EXPECT_EQ(table.ExactRecordCount(), 2);
  table.First();
  EXPECT_EQ(table.FieldAsString("NAME"), "Иванов");
  EXPECT_EQ(table.FieldAsInteger("QTY"), 12);
  EXPECT_EQ(table.FieldAsString("NOTE"), "первая запись");
  table.Next();
  EXPECT_EQ(table.FieldAsString("NAME"), "Пётр");
  EXPECT_EQ(table.FieldAsInteger("QTY"), 99999);
  EXPECT_EQ(table.FieldAsString("NOTE"), "ёЁ");
  table.Next();
  EXPECT_TRUE(table.Eof());
  table.Append();
  table.SetFieldString("NAME", "Сидоров");
  table.SetFieldInteger("QTY", 5);
  table.Post();
  table.Close();

  const std::string expected = dir_.File("expected.json");
  std::FILE* f = std::fopen(expected.c_str(), "w");
  ASSERT_NE(f, nullptr);
  const std::string text =
      R"({"fields": [["NAME","C",12,0],["QTY","N",5,0],["NOTE","C",20,0]], "records": [)"
      R"({"deleted": false, "values": {"NAME": "Иванов", "QTY": 12}},)"
      R"({"deleted": true, "values": {"NAME": "Smith"}},)"
      R"({"deleted": false, "values": {"NAME": "Пётр", "NOTE": "ёЁ"}},)"
      R"({"deleted": false, "values": {"NAME": "Сидоров", "QTY": 5, "NOTE": ""}}]})";
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  const CommandResult r =
      RunCommand("/usr/bin/python3 " + OracleDir() + "/check_dbf.py " + path + " " + expected);
  EXPECT_EQ(r.exitCode, 0) << r.output;
}

}  // namespace
}  // namespace dbase::test
