// Events from the link into the journal, and what happens when the journal cannot take them.
#include <filesystem>
#include <fstream>

#include "dbase/io_fault.h"
#include "dbase/table.h"
#include "tests/driver/netdevice_test_support.h"

namespace netdevice_testing {
namespace {

TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return EncodeDateTime(DateTimeParts{year, month, day, hour, minute, second, 0});
}

ctrlsim::EventSpec CardEvent(const std::string& card, int second = 0) {
  ctrlsim::EventSpec e;
  e.code = 4;
  e.month = 6;
  e.day = 1;
  e.hour = 10;
  e.second = static_cast<std::uint8_t>(second);
  e.card = card;
  return e;
}

TEvents Journalled(TMorvikNetDevice& device) {
  TEvents out;
  device.Journal().GetEvents({}, out, At(2000, 1, 1), At(2100, 1, 1));
  return out;
}

class Journal : public NetDeviceTest {
 protected:
  void SetUp() override { device.SetClock([] { return At(2025, 6, 15); }); }
  void Send(const ctrlsim::EventSpec& e, int count = 1) {
    Control("127.0.0.2", [&](ctrlsim::SimController& c) { c.QueueEvent(e, count); });
  }
  void Settle() { ASSERT_TRUE(PumpUntil([&] { return sim.Stats("127.0.0.2").queued == 0; })); PumpFor(20ms); }
  std::filesystem::path Table() const { return folder.Path() / "EvntBuf" / "transact.dbf"; }
};

TEST_F(Journal, TheBufferFolderGetsItsOwnSubfolderWhateverTheTrailingDelimiter) {
  device.SetBufferFolder("/x/devices/7");
  EXPECT_EQ(device.Journal().Folder, "/x/devices/7/EvntBuf/");
  device.SetBufferFolder("/x/devices/7/");
  EXPECT_EQ(device.Journal().Folder, "/x/devices/7/EvntBuf/");
  device.SetBufferCapacity(12);
  EXPECT_EQ(device.Journal().Capacity, 12);
}

TEST_F(Journal, EveryEventIsJournalledBeforeItIsHandedOn) {
  ConnectTo({"127.0.0.2"});
  EXPECT_TRUE(std::filesystem::exists(Table()));
  std::size_t journalledWhenHandedOn = 0;
  device.OnEvent = [&](const TEvent& e) {
    events.push_back(e);
    journalledWhenHandedOn = Journalled(device).size();
  };
  Send(CardEvent("00A1B2C3", 1));
  Send(CardEvent("", 2));
  Settle();
  const TEvents stored = Journalled(device);
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(journalledWhenHandedOn, 2u);
  EXPECT_EQ(stored[0].ID, "1");
  EXPECT_EQ(stored[0].Event, 4);
  EXPECT_EQ(stored[0].Card, "00A1B2C3");
  EXPECT_EQ(stored[0].EDate, At(2025, 6, 1, 10, 0, 1));
  EXPECT_EQ(stored[1].Card, "");
}

TEST_F(Journal, CapacityZeroJournalsNothingButStillHandsOn) {
  device.SetBufferCapacity(0);
  ConnectTo({"127.0.0.2"});
  Send(CardEvent("00000001"), 3);
  Settle();
  EXPECT_EQ(events.size(), 3u);
  EXPECT_TRUE(Journalled(device).empty());
}

// Another program holds the table: the events go on to the driver unjournalled, and only the first
// waits the journal's short lock wait (measured on the injected clock), the others try once.
TEST_F(Journal, AnEventTheJournalCannotTakeIsStillHandedOnPromptly) {
  ConnectTo({"127.0.0.2"});
  dbase::Table holder;
  holder.Open(Table().string());  // opens it shared; the journal, which made it, holds it exclusively
  const dbase::io_fault::VirtualClock clock;
  Send(CardEvent("00A1B2C3"), 5);
  Settle();
  const auto waited = clock.Waited();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[4].Card, "00A1B2C3");
  EXPECT_GE(waited, TTransactBase::kLockWait);
  EXPECT_LE(waited, 300ms);
  holder.Close();
  EXPECT_TRUE(Journalled(device).empty());
}

TEST_F(Journal, ATableThatCannotBePreparedRaisesFromConnectAndTouchesNothing) {
  AddController("127.0.0.2");
  sim.Start();
  const std::filesystem::path blocker = folder.Path() / "file";
  { std::ofstream(blocker) << "x"; }
  device.SetBufferFolder(blocker.string());  // a folder under a plain file cannot exist
  EXPECT_ANY_THROW(device.Connect());
  EXPECT_FALSE(device.Connected());
  EXPECT_FALSE(device.Busy());
  EXPECT_FALSE(device.EventChannel().Connected());
  EXPECT_FALSE(device.CmdChannel().Connected());
  device.SetBufferFolder(folder.Path().string());
  EXPECT_EQ(device.Connect(), 0);
}

}  // namespace
}  // namespace netdevice_testing
