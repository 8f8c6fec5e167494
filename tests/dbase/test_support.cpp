// Helpers shared by the dBase library tests.
#include "tests/dbase/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "dbase/io_fault.h"
#include "tests/dbase/mdx_checker.h"

namespace dbase::test {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::path(::testing::TempDir()) / "dbase-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<FieldDef> JournalFields() {
  return {{"ID", FieldType::Character, 10},
          {"EVENT", FieldType::Numeric, 3, 0},
          {"EDATE", FieldType::Character, 14},
          {"CARD", FieldType::Character, 8}};
}

void CreateJournal(const std::string& path) {
  Table table;
  table.SetCodePage(866);
  table.CreateTable(path, JournalFields(), CreateMode::Replace,
                    {{"ID_IND", "ID"}, {"EDATE_IND", "EDATE"}});
}

void AppendRow(Table& table, const JournalRow& row) {
  table.Append();
  table.SetFieldString("ID", row.id);
  table.SetFieldInteger("EVENT", row.event);
  table.SetFieldString("EDATE", row.edate);
  table.SetFieldString("CARD", row.card);
  table.Post();
}

std::vector<JournalRow> ReadRows(Table& table) {
  std::vector<JournalRow> rows;
  table.First();
  for (int guard = 0; !table.Eof() && guard < 10'000'000; ++guard) {
    rows.push_back({table.FieldAsString("ID"), static_cast<int>(table.FieldAsInteger("EVENT")),
                    table.FieldAsString("EDATE"), table.FieldAsString("CARD")});
    table.Next();
  }
  return rows;
}

JournalRow SampleRow(int i) {
  static const char* const kIds[] = {"CTRL-01", "Контр-2", "7", "", "CTRL-01", "ПЯТЬ", "Z9"};
  char date[32];
  std::snprintf(date, sizeof date, "2026%02d%02d%02d%02d%02d", 1 + i % 12, 1 + i % 28, i % 24,
                (i / 7) % 60, (i * 13) % 60);
  char card[16];
  std::snprintf(card, sizeof card, "%08X", static_cast<unsigned>(i) * 2654435761u);
  return {kIds[i % 7], i % 256, date, i % 5 == 0 ? "" : card};
}

void ExpectIndexMatchesTable(const std::string& dbfPath, const std::string& mdxPath,
                             const std::string& when) {
  const MdxCheck check = CheckMdx(ReadBytes(mdxPath));
  EXPECT_TRUE(check.problems.empty()) << when << ": " << ::testing::PrintToString(check.problems);
  EXPECT_EQ(check.tags.size(), 2u) << when;
  const auto dbf = ReadBytes(dbfPath);
  for (const TagWalk& tag : check.tags)
    EXPECT_EQ(tag.keys, ExpectedKeys(dbf, tag.expression)) << when << ": " << tag.name;
}

void JournalTest::SetUp() {
  CreateJournal(path_);
  Table table;
  table.SetCodePage(866);
  table.Open(path_);
  for (int i = 0; i < rows_; ++i) AppendRow(table, SampleRow(i));
}

void JournalTest::Snapshot() {
  dbf_ = ReadBytes(path_);
  mdx_ = ReadBytes(mdxPath_);
}

void JournalTest::Restore() const {
  WriteBytes(path_, dbf_);
  WriteBytes(mdxPath_, mdx_);
}

long long JournalTest::StepsOf(const std::function<void()>& work) {
  io_fault::Disarm();
  work();
  const long long steps = io_fault::Steps();
  Restore();
  return steps;
}

void JournalTest::DieAtEachStep(long long steps, const std::function<void()>& work,
                                const std::function<void(const std::string& when)>& check) {
  for (long long step = 1; step <= steps; ++step) {
    ASSERT_TRUE(ChildEndsAtInjectedExit([&] {
      io_fault::Arm(step, io_fault::Action::Exit);
      work();
    })) << "step " << step;
    check("after dying at step " + std::to_string(step));
    Restore();
  }
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

CommandResult RunCommand(const std::string& command, int timeoutSeconds) {
  CommandResult result;
  const std::string full =
      "timeout " + std::to_string(timeoutSeconds) + " sh -c '" + command + "' 2>&1";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer{};
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    result.output.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string OracleDir() { return DBASE_ORACLE_DIR; }

namespace {
std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (const unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}
}  // namespace

void ExpectPerlWalkMatches(const std::string& dbfPath, const std::string& mdxPath) {
  const auto dbf = ReadBytes(dbfPath);
  for (const auto& [tag, field] : {std::pair{"ID_IND", "ID"}, std::pair{"EDATE_IND", "EDATE"}}) {
    const CommandResult r =
        RunCommand("/usr/bin/perl " + OracleDir() + "/walk_mdx.pl " + mdxPath + " " + tag);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::ostringstream walk;
    std::ostringstream seek;
    std::map<std::string, std::uint32_t> first;
    const KeyList keys = ExpectedKeys(dbf, field);
    for (const auto& [key, recno] : keys) {
      walk << "walk " << Hex(key) << " " << recno << "\n";
      if (first.emplace(key, recno).second) seek << "seek " << Hex(key) << " " << recno << "\n";
    }
    EXPECT_EQ(r.output, walk.str() + seek.str()) << tag;
  }
}

bool operator==(const JournalRow& a, const JournalRow& b) {
  return a.id == b.id && a.event == b.event && a.edate == b.edate && a.card == b.card;
}

bool ChildEndsAtInjectedExit(const std::function<void()>& work) {
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    try {
      work();
    } catch (...) {
    }
    _exit(3);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace dbase::test
