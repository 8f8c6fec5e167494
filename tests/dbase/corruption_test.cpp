// Damaged tables and indexes raise clear errors naming the file and are never read out of bounds.
#include <gtest/gtest.h>

#include <functional>

#include "dbase/table.h"
#include "tests/dbase/test_support.h"

namespace dbase::test {
namespace {

class CorruptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateJournal(path_);
    Table table;
    table.SetCodePage(866);
    table.Open(path_);
    for (int i = 0; i < 10; ++i) AppendRow(table, SampleRow(i));
    table.Close();
    good_ = ReadBytes(path_);
  }

  // Damages a copy of the good table and expects Open to fail with `kind`, naming the file.
  void ExpectRejected(const std::function<void(std::vector<std::uint8_t>&)>& damage, ErrorKind kind,
                      const std::string& file) {
    auto bytes = good_;
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

  ScratchDir dir_;
  std::string path_ = dir_.File("transact.dbf");
  std::vector<std::uint8_t> good_;
};

TEST_F(CorruptionTest, HeaderThatDoesNotAddUp) {
  ExpectRejected([](auto& b) { b.resize(20); }, ErrorKind::Corrupt, path_);
  ExpectRejected([](auto& b) { b.resize(161 + 5 * 36); }, ErrorKind::Corrupt, path_);  // truncated
  ExpectRejected([](auto& b) { b[4] = 200; }, ErrorKind::Corrupt, path_);              // count
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

TEST_F(CorruptionTest, DamagedIndexDefinitionsNameTheIndexFile) {
  const std::string mdx = dir_.File("transact.mdx");
  const auto goodIndex = ReadBytes(mdx);
  const std::vector<std::function<void(std::vector<std::uint8_t>&)>> damages = {
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
  for (const auto& damage : damages) {
    auto bytes = goodIndex;
    damage(bytes);
    WriteBytes(mdx, bytes);
    Table table;
    try {
      table.Open(path_);
      ADD_FAILURE() << "opened with a damaged index";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(mdx), std::string::npos) << e.what();
    }
  }
}

TEST_F(CorruptionTest, TableTruncatedWhileOpenIsReportedNotReadPast) {
  Table table;
  table.Open(path_);
  std::filesystem::resize_file(path_, 161 + 3 * 36);
  EXPECT_THROW(table.ExactRecordCount(), Error);
  EXPECT_THROW(table.First(), Error);
}

}  // namespace
}  // namespace dbase::test
