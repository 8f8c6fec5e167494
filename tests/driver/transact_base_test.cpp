#include "driver/transact_base.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "dbase/io_fault.h"
#include "dbase/table.h"
#include "platform/exceptions.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TDateTime At(int day, int hour, int minute, int second) {
  DateTimeParts parts;
  parts.year = 2025;
  parts.month = 3;
  parts.day = day;
  parts.hour = hour;
  parts.minute = minute;
  parts.second = second;
  return EncodeDateTime(parts);
}

TEvent Ev(std::string id, TDateTime when, std::uint8_t code = 4, std::string card = {}) {
  return TEvent{std::move(id), when, code, std::move(card)};
}

// Records in the file, deleted ones included (the count field of the table header).
std::uint32_t PhysicalRecords(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  unsigned char head[8] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  return head[4] | (head[5] << 8) | (head[6] << 16) | (static_cast<std::uint32_t>(head[7]) << 24);
}

class Journal : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/link-journal-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    journal_.Folder = root_ + "/EvntBuf/";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::vector<std::string> Ids(const TStringList& filter = {}, TDateTime from = 0, TDateTime to = 100000) {
    TEvents events;
    journal_.GetEvents(filter, events, from, to);
    std::vector<std::string> ids;
    for (const auto& e : events) ids.push_back(e.ID);
    return ids;
  }
  long long LiveCount() {
    dbase::Table table;
    table.Open(journal_.TableFileName());
    const long long count = table.ExactRecordCount();
    table.Close();
    return count;
  }

  std::string root_;
  TTransactBase journal_;
};

TEST(JournalDefaults, CapacityAndFolder) {
  TTransactBase journal;
  EXPECT_EQ(journal.Capacity, 5000);
  EXPECT_TRUE(journal.Folder.empty());  // the default folder, looked up when first used
  const std::string folder = journal.EffectiveFolder();
  const std::string tail = "ac_morvikRK4400IPv41/transact/";
  ASSERT_GE(folder.size(), tail.size());
  EXPECT_EQ(folder.substr(folder.size() - tail.size()), tail);
  EXPECT_EQ(folder.front(), '/');
  EXPECT_EQ(journal.TableFileName(), folder + "transact.dbf");
}

// Without any usable application data folder the journal object is still made; the failure comes
// when the table is first prepared.
TEST(JournalDefaults, NoUsableFolderFailsAtPrepareNotAtCreation) {
  const std::string blocker = ::testing::TempDir() + "journal-no-folder-" + std::to_string(getpid());
  std::ofstream(blocker) << "a file where folders would have to be";
  const char* oldCommon = std::getenv("TAVO_COMMON_APPDATA");
  const char* oldData = std::getenv("XDG_DATA_HOME");
  const std::string savedCommon = oldCommon ? oldCommon : "";
  const std::string savedData = oldData ? oldData : "";
  setenv("TAVO_COMMON_APPDATA", (blocker + "/common").c_str(), 1);
  setenv("XDG_DATA_HOME", (blocker + "/data").c_str(), 1);
  {
    std::unique_ptr<TTransactBase> journal;
    ASSERT_NO_THROW(journal = std::make_unique<TTransactBase>());
    EXPECT_THROW(journal->PrepareTable(), std::exception);
  }
  oldCommon ? setenv("TAVO_COMMON_APPDATA", savedCommon.c_str(), 1) : unsetenv("TAVO_COMMON_APPDATA");
  oldData ? setenv("XDG_DATA_HOME", savedData.c_str(), 1) : unsetenv("XDG_DATA_HOME");
  std::remove(blocker.c_str());
}

// Each write of the creation fails in turn (a full disk): no table is left without its tags, and
// the next prepare makes one with both that keeps its events.
TEST_F(Journal, PrepareCreatesTheTableWithItsTags) {
  for (long long failAt = 1;; ++failAt) {
    fs::remove_all(journal_.EffectiveFolder());
    dbase::io_fault::Arm(failAt, dbase::io_fault::Action::Throw);
    bool failed = false;
    try {
      EXPECT_EQ(journal_.Open(), 0);
    } catch (const Exception&) {
      failed = true;
    }
    const bool faultMissed = dbase::io_fault::Steps() < failAt;
    dbase::io_fault::Disarm();
    EXPECT_EQ(failed, !faultMissed) << failAt;
    EXPECT_FALSE(journal_.Dbf().Active());
    EXPECT_NO_THROW(journal_.PrepareTable()) << failAt;
    journal_.AddEvent(Ev("1", At(1, 0, 0, 0)));
    EXPECT_NO_THROW(journal_.PrepareTable()) << failAt;  // existing table: compacted, no error
    EXPECT_EQ(Ids(), (std::vector<std::string>{"1"})) << failAt;
    dbase::Table table;
    table.Open(journal_.TableFileName());
    EXPECT_EQ(table.IndexTagNames(), (std::vector<std::string>{"ID_IND", "EDATE_IND"})) << failAt;
    EXPECT_EQ(std::distance(fs::directory_iterator(journal_.EffectiveFolder()), fs::directory_iterator()),
              2) << failAt;  // the table and its index: no temporary file left by the failed creation
    if (faultMissed) break;
  }
  dbase::Table table;
  table.Open(journal_.TableFileName());
  const auto& fields = table.Fields();
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0].def.name, "ID");
  EXPECT_EQ(fields[0].def.length, 10);
  EXPECT_EQ(fields[1].def.name, "EVENT");
  EXPECT_EQ(fields[1].def.type, dbase::FieldType::Numeric);
  EXPECT_EQ(fields[1].def.length, 3);
  EXPECT_EQ(fields[2].def.name, "EDATE");
  EXPECT_EQ(fields[2].def.length, 14);
  EXPECT_EQ(fields[3].def.name, "CARD");
  EXPECT_EQ(fields[3].def.length, 8);
}

TEST_F(Journal, CreationFailureNamesTheCause) {
  std::ofstream(root_ + "/file") << "x";
  journal_.Folder = root_ + "/file/";  // a folder that cannot exist
  try {
    journal_.PrepareTable();
    FAIL();
  } catch (const Exception& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("Ошибка создания таблицы:  ", 0), 0u) << message;
    EXPECT_GT(message.size(), std::string("Ошибка создания таблицы:   ").size());
    EXPECT_EQ(message.back(), ' ');
  }
  EXPECT_FALSE(journal_.Dbf().Active());
}

TEST_F(Journal, RecordsComeBackAsTheyWent) {
  journal_.PrepareTable();
  journal_.AddEvent(Ev("12", At(1, 8, 30, 5), 0x0C, "00A1B2C3"));
  journal_.AddEvent(Ev("12", At(1, 8, 30, 6), 0x41));
  TEvents events;
  journal_.GetEvents({}, events, 0, 100000);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].ID, "12");
  EXPECT_EQ(events[0].Event, 0x0C);
  EXPECT_EQ(events[0].Card, "00A1B2C3");
  EXPECT_DOUBLE_EQ(events[0].EDate, At(1, 8, 30, 5));
  EXPECT_EQ(events[1].Event, 0x41);
  EXPECT_EQ(events[1].Card, "");
  EXPECT_FALSE(journal_.Dbf().Active());
  EXPECT_EQ(journal_.Filter.IDs, nullptr);
  EXPECT_TRUE(journal_.Filter.DateFrom.empty());
}

TEST_F(Journal, CapacityZeroTouchesNothing) {
  journal_.Capacity = 0;
  journal_.AddEvent(Ev("1", At(1, 0, 0, 0)));  // not even created
  EXPECT_FALSE(fs::exists(journal_.TableFileName()));
  journal_.PrepareTable();
  journal_.AddEvent(Ev("1", At(1, 0, 0, 0)));
  EXPECT_TRUE(Ids().empty());
  journal_.Capacity = 5;
  journal_.AddEvent(Ev("2", At(1, 0, 0, 0)));
  journal_.Capacity = 0;
  EXPECT_EQ(Ids(), (std::vector<std::string>{"2"}));
  journal_.DeleteEvents({}, 0, 100000);
  EXPECT_TRUE(Ids().empty());
}

TEST_F(Journal, CapacityTheOldestGiveWay) {
  journal_.PrepareTable();
  journal_.Capacity = 3;
  for (int i = 1; i <= 5; ++i) journal_.AddEvent(Ev(std::to_string(i), At(i, 0, 0, 0)));
  EXPECT_EQ(Ids(), (std::vector<std::string>{"3", "4", "5"}));
  // More live records than the capacity (lowered, or left over by crashes between an append and its
  // deletion): one append brings them down to it, the oldest going first.
  journal_.Capacity = 2;
  journal_.AddEvent(Ev("6", At(6, 0, 0, 0)));
  EXPECT_EQ(Ids(), (std::vector<std::string>{"5", "6"}));
  EXPECT_EQ(PhysicalRecords(journal_.TableFileName()), 6u);
  journal_.PrepareTable();  // the next prepare packs
  EXPECT_EQ(PhysicalRecords(journal_.TableFileName()), 2u);
  EXPECT_EQ(Ids(), (std::vector<std::string>{"5", "6"}));
  // A negative capacity takes one out per one in, so the live count never grows; from an empty
  // table the new record itself goes.
  journal_.Capacity = -5;
  journal_.AddEvent(Ev("7", At(7, 0, 0, 0)));
  EXPECT_EQ(Ids(), (std::vector<std::string>{"6", "7"}));
  journal_.DeleteEvents({}, 0, 100000);
  journal_.AddEvent(Ev("8", At(8, 0, 0, 0)));
  EXPECT_TRUE(Ids().empty());
}

TEST_F(Journal, ManyEventsOfOneController) {
  journal_.PrepareTable();
  for (int i = 0; i < 50; ++i) journal_.AddEvent(Ev("7", At(1, 0, 0, i % 60)));
  EXPECT_EQ(Ids({"7"}).size(), 50u);
  EXPECT_EQ(LiveCount(), 50);
}

TEST_F(Journal, IdentifiersAreCutToTenCharacters) {
  journal_.PrepareTable();
  journal_.AddEvent(Ev("ABCDEFGHIJKL", At(1, 0, 0, 0)));
  journal_.AddEvent(Ev("Контроллер№12", At(1, 0, 0, 1)));
  EXPECT_TRUE(Ids({"ABCDEFGHIJKL"}).empty());
  EXPECT_EQ(Ids({"ABCDEFGHIJ"}), (std::vector<std::string>{"ABCDEFGHIJ"}));
  EXPECT_EQ(Ids({"Контроллер"}), (std::vector<std::string>{"Контроллер"}));
}

TEST_F(Journal, FilterBoundsAndIdentifiers) {
  journal_.PrepareTable();
  journal_.AddEvent(Ev("A", At(1, 10, 0, 0)));
  journal_.AddEvent(Ev("B", At(1, 10, 0, 1)));
  journal_.AddEvent(Ev("a", At(1, 10, 0, 2)));
  journal_.AddEvent(Ev("A", At(2, 0, 0, 0)));
  EXPECT_EQ(Ids({}, At(1, 10, 0, 0), At(1, 10, 0, 2)), (std::vector<std::string>{"A", "B", "a"}));
  EXPECT_EQ(Ids({}, At(1, 10, 0, 1), At(1, 10, 0, 1)), (std::vector<std::string>{"B"}));
  EXPECT_TRUE(Ids({}, At(1, 10, 0, 2), At(1, 10, 0, 1)).empty());
  EXPECT_EQ(Ids({"A"}), (std::vector<std::string>{"A", "A"}));
  EXPECT_EQ(Ids({"a", "B"}), (std::vector<std::string>{"B", "a"}));
  EXPECT_TRUE(Ids({"b"}).empty());
  EXPECT_EQ(Ids({"A"}, At(2, 0, 0, 0), At(3, 0, 0, 0)), (std::vector<std::string>{"A"}));
}

TEST_F(Journal, DeleteThroughTheFilterThenPack) {
  journal_.PrepareTable();
  for (int i = 0; i < 6; ++i) journal_.AddEvent(Ev(i % 2 ? "odd" : "even", At(1, 0, 0, i)));
  journal_.DeleteEvents({"odd"}, At(1, 0, 0, 0), At(1, 0, 0, 3));
  EXPECT_EQ(Ids(), (std::vector<std::string>{"even", "even", "even", "odd"}));
  EXPECT_EQ(PhysicalRecords(journal_.TableFileName()), 4u);
  EXPECT_FALSE(journal_.Dbf().Active());
  // A filter that passes nothing deletes nothing and still packs.
  journal_.Capacity = 3;
  journal_.AddEvent(Ev("x", At(2, 0, 0, 0)));
  journal_.AddEvent(Ev("x", At(2, 0, 0, 1)));
  ASSERT_EQ(PhysicalRecords(journal_.TableFileName()), 6u);
  journal_.DeleteEvents({"nobody"}, 0, 100000);
  EXPECT_EQ(PhysicalRecords(journal_.TableFileName()), 3u);  // the capacity's deletions packed away
  EXPECT_EQ(Ids(), (std::vector<std::string>{"odd", "x", "x"}));
}

TEST_F(Journal, NoPackWhileAnotherHandleHoldsTheTable) {
  journal_.PrepareTable();
  for (int i = 0; i < 4; ++i) journal_.AddEvent(Ev("c", At(1, 0, 0, i)));
  TTransactBase other;  // did not create the table: opens it shared
  other.Folder = journal_.Folder;
  dbase::Table holder;
  holder.Open(journal_.TableFileName());
  other.DeleteEvents({}, At(1, 0, 0, 0), At(1, 0, 0, 1));
  EXPECT_EQ(PhysicalRecords(journal_.TableFileName()), 4u);
  // Instead of the pack, the whole index is walked: left as it is when whole, rebuilt when a page
  // cannot be a node (the ID tag's root zeroed).
  const std::string mdx = journal_.EffectiveFolder() + "transact.mdx";
  const auto inode = [&] {
    struct stat st {};
    EXPECT_EQ(::stat(mdx.c_str(), &st), 0);
    return st.st_ino;
  };
  const ino_t whole = inode();
  EXPECT_NO_THROW(other.PrepareTable());
  EXPECT_EQ(inode(), whole);
  std::string bytes(fs::file_size(mdx), '\0');
  std::fstream file(mdx, std::ios::in | std::ios::out | std::ios::binary);
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  const auto page = [&](std::size_t at) {
    return 512u * (static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint8_t>(bytes[at + 1]) << 8);
  };
  file.seekp(static_cast<std::streamoff>(page(page(544)))) << std::string(1024, '\0') << std::flush;
  EXPECT_NO_THROW(other.PrepareTable());
  EXPECT_NE(inode(), whole);
  EXPECT_EQ(PhysicalRecords(journal_.TableFileName()), 4u);
  EXPECT_EQ(holder.ExactRecordCount(), 2);
  holder.Close();
  other.PrepareTable();
  EXPECT_EQ(PhysicalRecords(journal_.TableFileName()), 2u);
}

// Another holder keeps the creator (which opens exclusively) out. An append gives up within the
// journal's short lock wait, a read or delete within the library's longer one, as measured on the
// injected clock; each leaves the table closed.
TEST_F(Journal, TheCreatorOpensExclusivelyAndReportsABusyTableAfterItsWait) {
  journal_.PrepareTable();
  EXPECT_TRUE(journal_.Dbf().Exclusive());
  dbase::Table holder;
  holder.Open(journal_.TableFileName());
  TEvents events;
  const std::vector<std::pair<std::function<void()>, std::chrono::milliseconds>> calls = {
      {[&] { journal_.AddEvent(Ev("1", At(1, 0, 0, 0))); }, TTransactBase::kLockWait},
      {[&] { journal_.GetEvents({}, events, 0, 100000); }, dbase::Table::kDefaultLockTimeout},
      {[&] { journal_.DeleteEvents({}, 0, 100000); }, dbase::Table::kDefaultLockTimeout},
      {[&] { journal_.PrepareTable(); }, dbase::Table::kDefaultLockTimeout},
  };
  for (const auto& [call, wait] : calls) {
    const dbase::io_fault::VirtualClock clock;
    EXPECT_THROW(call(), dbase::Error);
    const auto waited = clock.Waited();
    EXPECT_GE(waited, wait);
    EXPECT_LE(waited, wait + 100ms);
    EXPECT_FALSE(journal_.Dbf().Active());
  }
  holder.Close();
  journal_.AddEvent(Ev("1", At(1, 0, 0, 0)));
  EXPECT_EQ(Ids(), (std::vector<std::string>{"1"}));
}

// A held lock costs appends one short wait a second, not one each: after a wait runs out, the
// appends of the next second try once; after it they wait again, as they do after another failure
// or after an append that went through.
TEST_F(Journal, AHeldLockCostsOneWaitASecond) {
  journal_.PrepareTable();
  dbase::Table holder;
  holder.Open(journal_.TableFileName());
  const dbase::io_fault::VirtualClock clock;
  const auto waitOfAFailedAppend = [&] {
    const auto before = clock.Waited();
    EXPECT_THROW(journal_.AddEvent(Ev("1", At(1, 0, 0, 0))), dbase::Error);
    return clock.Waited() - before;
  };
  const auto full = TTransactBase::kLockWait;
  EXPECT_GE(waitOfAFailedAppend(), full);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(waitOfAFailedAppend(), 0us) << i;
  dbase::io_fault::Pause(TTransactBase::kNoWaitSpan - 1ms);
  EXPECT_EQ(waitOfAFailedAppend(), 0us);
  dbase::io_fault::Pause(1ms);
  EXPECT_GE(waitOfAFailedAppend(), full);  // and the second starts again
  EXPECT_EQ(waitOfAFailedAppend(), 0us);
  holder.Close();
  journal_.AddEvent(Ev("2", At(1, 0, 0, 0)));  // within the second: the single try takes the lock
  EXPECT_EQ(Ids(), (std::vector<std::string>{"2"}));
  dbase::io_fault::Arm(1, dbase::io_fault::Action::Throw);
  EXPECT_EQ(waitOfAFailedAppend(), 0us);  // a full disk
  dbase::io_fault::Disarm();
  holder.Open(journal_.TableFileName());
  EXPECT_GE(waitOfAFailedAppend(), full);
}

// What a lost or damaged index, or a power cut in the middle of an append, leaves behind is
// repaired by the next read or prepare: every whole record stays and both tags are whole again.
// What a creation that died left behind is cleared by the next prepare.
TEST_F(Journal, ReadAndPrepareRepairWhatACrashLeaves) {
  journal_.PrepareTable();
  for (int i = 0; i < 5; ++i) journal_.AddEvent(Ev(std::to_string(i), At(1, 0, 0, i)));
  const std::string dbf = journal_.TableFileName();
  const std::string mdx = journal_.EffectiveFolder() + "transact.mdx";
  const fs::path saved = root_ + "/saved";
  fs::create_directory(saved);
  fs::copy(journal_.EffectiveFolder(), saved);
  const std::vector<std::function<void()>> damages = {
      [&] { fs::remove(mdx); },
      [&] {  // head zeroed
        std::fstream(mdx, std::ios::in | std::ios::out | std::ios::binary) << std::string(512, '\0');
      },
      [&] { fs::resize_file(mdx, 1000); },
      [&] { fs::resize_file(dbf, fs::file_size(dbf) - 20); },  // the last record cut short
  };
  const std::vector<std::string> all = {"0", "1", "2", "3", "4"};
  for (std::size_t i = 0; i < damages.size(); ++i) {
    const auto expected = i == 3 ? std::vector<std::string>(all.begin(), all.end() - 1) : all;
    for (const bool prepareFirst : {false, true}) {
      fs::copy(saved, journal_.EffectiveFolder(),
               fs::copy_options::recursive | fs::copy_options::overwrite_existing);
      damages[i]();
      if (prepareFirst) {
        EXPECT_NO_THROW(journal_.PrepareTable()) << i;
      }
      EXPECT_EQ(Ids(), expected) << i;
      dbase::Table table;
      table.Open(dbf);
      EXPECT_EQ(table.IndexTagNames(), (std::vector<std::string>{"ID_IND", "EDATE_IND"})) << i;
    }
  }
  // Temporary files of a creation whose process died go at the next prepare; a live one's stay, and
  // so does one its creator holds (a creator whose process this one cannot see).
  const pid_t dead = ::fork();
  if (dead == 0) _exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string suffix = ".0123456789abcdef.tmp";
  const std::vector<std::string> abandoned = {dbf + "." + std::to_string(dead) + suffix,
                                              mdx + "." + std::to_string(dead) + suffix,
                                              dbf + ".tmp", mdx + ".tmp"};  // a pack's, a rebuild's
  const std::string live = dbf + "." + std::to_string(::getpid()) + suffix;
  for (const std::string& file : abandoned) std::ofstream(file) << "x";
  std::ofstream(live) << "x";
  const std::string held = dbf + "." + std::to_string(dead) + ".fedcba9876543210.tmp";
  dbase::Table holder;
  holder.CreateTable(held, {{"A", dbase::FieldType::Character, 1}});
  holder.Open(held);
  journal_.PrepareTable();
  for (const std::string& file : abandoned) EXPECT_FALSE(fs::exists(file)) << file;
  EXPECT_TRUE(fs::exists(live) && fs::exists(held));
}

// Processes preparing a missing journal at the same moment all succeed and leave one table with
// both tags.
TEST_F(Journal, ProcessesPreparingTogether) {
  constexpr int kProcesses = 4;
  const auto runTogether = [](const std::function<void(int)>& work) {
    int go[2];
    if (::pipe(go) != 0) return false;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
      const pid_t child = ::fork();
      if (child == 0) {
        char c = 0;
        ::close(go[1]);
        int failed = ::read(go[0], &c, 1) != 1;
        try {
          work(p);
        } catch (const std::exception& e) {
          std::fprintf(stderr, "process %d: %s\n", p, e.what());
          failed = 1;
        }
        _exit(failed);
      }
      children.push_back(child);
    }
    ::close(go[0]);
    (void)!::write(go[1], "go!!", kProcesses);
    ::close(go[1]);
    bool allSucceeded = true;
    for (const pid_t child : children) {
      int status = 0;
      allSucceeded &= child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                      WEXITSTATUS(status) == 0;
    }
    return allSucceeded;
  };
  for (int round = 0; round < 10; ++round) {
    const std::string folder = root_ + "/round" + std::to_string(round) + "/";
    EXPECT_TRUE(runTogether([&](int) {
      TTransactBase journal;
      journal.Folder = folder;
      journal.PrepareTable();
    })) << round;
    dbase::Table table;
    table.Open(folder + "transact.dbf");
    EXPECT_EQ(table.IndexTagNames(), (std::vector<std::string>{"ID_IND", "EDATE_IND"})) << round;
  }
}

// Another program's journal creates the table between this one's look and its publish: this one
// prepares that table as an existing one and opens it shared from then on; only the creator holds it
// exclusively.
TEST_F(Journal, ACreationOvertakenByAnotherOpensItsTableShared) {
  TTransactBase other;
  other.Folder = journal_.Folder;
  dbase::io_fault::Disarm();
  bool ran = false;
  dbase::io_fault::RunAt(1, [&] {  // the first write of this creation
    other.PrepareTable();
    ran = true;
  });
  journal_.PrepareTable();
  dbase::io_fault::Disarm();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(other.Dbf().Exclusive());
  EXPECT_FALSE(journal_.Dbf().Exclusive());
  dbase::Table table;
  table.Open(journal_.Folder + "transact.dbf");
  EXPECT_EQ(table.IndexTagNames(), (std::vector<std::string>{"ID_IND", "EDATE_IND"}));
}

// Another appender arrives just as a full journal deletes its oldest record: it waits for the
// whole append, count and deletion (then gives up on the injected clock), so the two never delete
// the same record and overshoot the capacity.
TEST_F(Journal, AnotherAppenderWaitsForTheWholeAppendSoTheCapacityHolds) {
  journal_.PrepareTable();
  TTransactBase first;  // neither created the table: both open it shared
  TTransactBase second;
  for (TTransactBase* journal : {&first, &second}) {
    journal->Folder = journal_.Folder;
    journal->Capacity = 3;
  }
  for (int i = 0; i < 4; ++i) first.AddEvent(Ev("1", At(1, 0, 0, i)));
  dbase::io_fault::Arm(0, dbase::io_fault::Action::Throw);
  first.AddEvent(Ev("1", At(1, 0, 1, 0)));
  const long long deletion = dbase::io_fault::Steps();  // the last write marks the oldest deleted
  bool secondBusy = false;
  {
    const dbase::io_fault::VirtualClock clock;
    dbase::io_fault::RunAt(deletion, [&] {
      try {
        second.AddEvent(Ev("2", At(1, 0, 2, 0)));
      } catch (const dbase::Error& e) {
        secondBusy = e.Kind() == dbase::ErrorKind::Busy;
      }
    });
    first.AddEvent(Ev("1", At(1, 0, 3, 0)));
    dbase::io_fault::Disarm();
    EXPECT_GE(clock.Waited(), TTransactBase::kLockWait);
  }
  EXPECT_TRUE(secondBusy);
  EXPECT_EQ(LiveCount(), 3);
}

TEST_F(Journal, ABadDateEndsTheReadAndClosesTheTable) {
  journal_.PrepareTable();
  journal_.AddEvent(Ev("1", At(1, 0, 0, 0)));
  {
    dbase::Table writer;
    writer.SetCodePage(866);
    writer.Open(journal_.TableFileName());
    writer.Append();
    writer.SetFieldString("ID", "2");
    writer.SetFieldString("EDATE", "2025023X");
    writer.Post();
    writer.Close();
  }
  TEvents events;
  EXPECT_THROW(journal_.GetEvents({}, events, 0, 100000), EConvertError);
  EXPECT_FALSE(journal_.Dbf().Active());
  EXPECT_EQ(journal_.Filter.IDs, nullptr);
  // Bounds that leave the bad record out still read.
  EXPECT_EQ(Ids({}, At(1, 0, 0, 0), At(2, 0, 0, 0)), (std::vector<std::string>{"1"}));
}

TEST_F(Journal, AnIndependentReaderSeesTheSameTable) {
  if (std::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0) {
    GTEST_SKIP() << "python3-dbfread is not installed";
  }
  journal_.PrepareTable();
  journal_.Capacity = 2;
  journal_.AddEvent(Ev("Вход", At(1, 8, 0, 0), 12, "0000ABCD"));
  journal_.AddEvent(Ev("2", At(1, 8, 0, 1), 65));
  journal_.AddEvent(Ev("ПроходнаяN1X", At(1, 8, 0, 2), 255, "FFFFFFFF"));
  const std::string script = root_ + "/read.py";
  std::ofstream(script) << "import sys, dbfread\n"
                           "t = dbfread.DBF(sys.argv[1], load=True)\n"
                           "assert t.encoding == 'cp866', t.encoding\n"
                           "print([(f.name, f.type, f.length) for f in t.fields])\n"
                           "for r in t.records: print(r['ID'], r['EVENT'], r['EDATE'], r['CARD'], sep='|')\n"
                           "print('deleted', len(t.deleted))\n";
  const std::string output = root_ + "/out.txt";
  ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + journal_.TableFileName() + " > " + output).c_str()), 0);
  std::ifstream in(output);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text,
            "[('ID', 'C', 10), ('EVENT', 'N', 3), ('EDATE', 'C', 14), ('CARD', 'C', 8)]\n"
            "2|65|20250301080001|\n"
            "ПроходнаяN|255|20250301080002|FFFFFFFF\n"
            "deleted 1\n");
}

}  // namespace
