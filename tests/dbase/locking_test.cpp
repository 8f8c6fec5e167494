// Exclusive access between holders of the same table: other descriptors of this process, other
// processes, exclusive mode, and holders that wait while a pack replaces the file.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "dbase/table.h"
#include "tests/dbase/test_support.h"

namespace dbase::test {
namespace {

using namespace std::chrono_literals;

class LockingTest : public JournalTest {
 protected:
  LockingTest() : JournalTest(20) {}
};

TEST_F(LockingTest, ExclusiveAccessAndWriteScopesBetweenHandlesInThisProcess) {
  Table first;
  Table second;
  first.Open(path_);
  second.Open(path_);
  EXPECT_FALSE(first.TryExclusiveAccess());
  EXPECT_FALSE(second.TryExclusiveAccess());
  EXPECT_THROW(first.Pack(), Error);
  second.Close();
  EXPECT_TRUE(first.TryExclusiveAccess());
  // While one handle has exclusive access, a shared open waits and then fails.
  second.SetLockTimeout(50ms);
  try {
    second.Open(path_);
    FAIL() << "opened while another handle had exclusive access";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::Busy);
    EXPECT_NE(std::string(e.what()).find(path_), std::string::npos);
  }
  first.EndExclusiveAccess();
  second.Open(path_);
  EXPECT_EQ(second.ExactRecordCount(), 20);
  {
    // A write scope keeps other handles' appends out, its holder's own appends included in it.
    const Table::WriteScope scope(first);
    AppendRow(first, SampleRow(20));
    try {
      AppendRow(second, SampleRow(21));
      FAIL() << "appended inside another handle's write scope";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::Busy) << e.what();
    }
  }
  AppendRow(second, SampleRow(21));
  EXPECT_EQ(second.ExactRecordCount(), 22);
}

TEST_F(LockingTest, ExclusiveModeOpenFailsWhileAnotherHolderHasTheFile) {
  Table other;
  other.Open(path_);
  Table exclusive;
  exclusive.SetExclusive(true);
  exclusive.SetLockTimeout(30ms);
  EXPECT_THROW(exclusive.Open(path_), Error);
  EXPECT_FALSE(exclusive.Active());
  other.Close();
  exclusive.Open(path_);
  EXPECT_TRUE(exclusive.TryExclusiveAccess());
  exclusive.EndExclusiveAccess();  // exclusive mode keeps the lock
  other.SetLockTimeout(30ms);
  EXPECT_THROW(other.Open(path_), Error);
}

// Waits up to a few seconds for one byte from `fd`.
bool WaitByte(int fd) {
  pollfd p{fd, POLLIN, 0};
  char c = 0;
  return ::poll(&p, 1, 10000) == 1 && ::read(fd, &c, 1) == 1;
}

TEST_F(LockingTest, ExclusiveAccessRefusedWhileAChildProcessHasTheTableOpen) {
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Table table;
    table.Open(path_);
    (void)!::write(ready[1], "r", 1);
    WaitByte(release[0]);
    table.Close();
    _exit(0);
  }
  ASSERT_TRUE(WaitByte(ready[0]));
  Table table;
  table.Open(path_);
  EXPECT_FALSE(table.TryExclusiveAccess());
  (void)!::write(release[1], "x", 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(table.TryExclusiveAccess());
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

// Two processes appending through shared opens at the same time lose nothing and keep the index
// whole: every append holds the table's write lock.
TEST_F(LockingTest, ConcurrentAppendersInTwoProcessesInterleaveSafely) {
  constexpr int kPerProcess = 150;
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int failures = 0;
      for (int i = 0; i < kPerProcess; ++i) {
        try {
          Table table;
          table.SetCodePage(866);
          table.Open(path_);
          AppendRow(table, SampleRow(1000 * (p + 1) + i));
        } catch (const std::exception& e) {
          std::fprintf(stderr, "append %d failed: %s\n", i, e.what());
          ++failures;
        }
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  Table table;
  table.Open(path_);
  EXPECT_EQ(table.ExactRecordCount(), 20 + 2 * kPerProcess);
  table.Close();
  ExpectIndexMatchesTable(path_, mdxPath_);
}

// A holder that opened the old file while a pack ran must end up on the packed file, so that its
// append is not lost in an unlinked file.
TEST_F(LockingTest, HolderWaitingDuringPackReopensThePackedFile) {
  Table packer;
  packer.SetExclusive(true);
  packer.Open(path_);
  packer.First();
  packer.Delete();

  std::exception_ptr failure;
  std::thread waiter([&] {
    try {
      Table late;
      late.SetCodePage(866);
      late.SetLockTimeout(10s);
      late.Open(path_);  // blocks on the old file until the packer lets go
      AppendRow(late, {"LATE", 1, "20260101000000", ""});
    } catch (...) {
      failure = std::current_exception();
    }
  });
  std::this_thread::sleep_for(200ms);  // let the waiter open the old file and wait for its lock
  packer.Pack();
  packer.Close();
  waiter.join();
  ASSERT_FALSE(failure);

  Table check;
  check.SetCodePage(866);
  check.Open(path_);
  const auto rows = ReadRows(check);
  ASSERT_EQ(rows.size(), 20u);  // 19 packed + the late append
  EXPECT_EQ(rows.back().id, "LATE");
}

}  // namespace
}  // namespace dbase::test
