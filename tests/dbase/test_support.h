// Helpers shared by the dBase library tests: scratch folders, the journal's table layout, raw file
// access and running the independent readers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "dbase/table.h"

namespace dbase::test {

// A fresh folder under the test temp directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The event journal's table: ID C10, EVENT N3, EDATE C14, CARD C8.
std::vector<FieldDef> JournalFields();

struct JournalRow {
  std::string id;
  int event = 0;
  std::string edate;
  std::string card;
};

// Creates the journal table with its two tags (ID_IND, EDATE_IND), code page 866.
void CreateJournal(const std::string& path);
void AppendRow(Table& table, const JournalRow& row);
// Rows read through the cursor (live records only), in physical order.
std::vector<JournalRow> ReadRows(Table& table);
// A deterministic, varied row: IDs repeat (as controllers do), some Cyrillic, some blank.
JournalRow SampleRow(int i);

// Checks the index structurally and that each tag holds exactly the keys of the table's records.
void ExpectIndexMatchesTable(const std::string& dbfPath, const std::string& mdxPath,
                             const std::string& when = {});

// A scratch folder with the journal table "transact.dbf" (and "transact.mdx"), made in SetUp with
// the first `rows` sample rows appended.
class JournalTest : public ::testing::Test {
 protected:
  explicit JournalTest(int rows) : rows_(rows) {}
  void SetUp() override;
  // Remembers both files as they are now; Restore() writes them back.
  void Snapshot();
  void Restore() const;
  // How many writes `work` makes, run once on the files (which are restored afterwards).
  long long StepsOf(const std::function<void()>& work);
  // Runs `work` in a child that dies at each of its first `steps` writes in turn; after each death
  // `check` looks at the files (told when it died) and the snapshot is restored.
  void DieAtEachStep(long long steps, const std::function<void()>& work,
                     const std::function<void(const std::string& when)>& check);

  ScratchDir dir_;
  std::string path_ = dir_.File("transact.dbf");
  std::string mdxPath_ = dir_.File("transact.mdx");
  std::vector<std::uint8_t> dbf_;
  std::vector<std::uint8_t> mdx_;

 private:
  int rows_;
};

std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

struct CommandResult {
  int exitCode = -1;
  std::string output;  // stdout and stderr
};
// Runs a shell command with a time limit (seconds).
CommandResult RunCommand(const std::string& command, int timeoutSeconds = 120);

// Runs work in a forked child process (exceptions swallowed there) and answers whether the child
// ended through an injected fault's exit (status 0). A child that ran work through, never reaching
// the armed step, ends with status 3. work arms the fault itself (io_fault::Arm ... Action::Exit).
bool ChildEndsAtInjectedExit(const std::function<void()>& work);

// Folder of the oracle scripts (tests/dbase/oracles).
std::string OracleDir();
// Perl's XBase::Index walks both journal tags and seeks each key: it must find every record in
// key order.
void ExpectPerlWalkMatches(const std::string& dbfPath, const std::string& mdxPath);

bool operator==(const JournalRow& a, const JournalRow& b);

}  // namespace dbase::test
