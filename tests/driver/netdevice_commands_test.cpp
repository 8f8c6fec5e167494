// The command set and the acknowledged transaction, against simulated controllers.
#include "driver/link_frames.h"
#include "tests/driver/netdevice_test_support.h"

namespace netdevice_testing {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// The data of a wrapped command to 127.0.0.2.
std::string Wrapped(int subcode, const std::string& payload = {}) {
  return "7F000002" + Bytes({0x81, 0x80, 0x81, subcode}) + payload;
}

TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  DateTimeParts p;
  p.year = year;
  p.month = month;
  p.day = day;
  p.hour = hour;
  p.minute = minute;
  p.second = second;
  return EncodeDateTime(p);
}

class Commands : public NetDeviceTest {
 protected:
  void SetUp() override { ConnectTo({"127.0.0.2"}); }
  // The last command the controller received, after the one transaction of the call.
  ctrlsim::ReceivedCommand Last() { return sim.Commands("127.0.0.2").back(); }
};

TEST_F(Commands, EachCommandCarriesItsExactBytes) {
  struct Case {
    const char* what;
    std::function<int()> call;
    std::string data;
  };
  const std::vector<Case> cases = {
      {"ClearCards", [&] { return device.ClearCards("1"); }, Wrapped(0xEA)},
      {"WriteCard", [&] { return device.WriteCard("1", "00A1B2C3", true, 1, 2); },
       Wrapped(0x83, "00A1B2C3" + Bytes({0x84, 0x81, 0x82}))},
      {"WriteCard without flag, long card cut to 8",
       [&] { return device.WriteCard("1", "00A1B2C3FF", false, 0, 15); },
       Wrapped(0x83, "00A1B2C3" + Bytes({0x80, 0x80, 0x8F}))},
      {"DeleteCard", [&] { return device.DeleteCard("1", "00A1B2C3"); }, Wrapped(0x82, "00A1B2C3")},
      {"ClearDates", [&] { return device.ClearDates("1"); }, Wrapped(0xEC)},
      {"WriteDate", [&] { return device.WriteDate("1", At(2025, 12, 25)); }, Wrapped(0x86, Bytes({0x92, 0xA5}))},
      {"ClearTimeProfiles", [&] { return device.ClearTimeProfiles("1"); }, Wrapped(0xED)},
      {"WriteTimeProfile",
       [&] {
         return device.WriteTimeProfile("1", 3, {false, true, true, true, true, true, false}, At(2000, 1, 1, 8, 0),
                                        At(2000, 1, 1, 12, 0), At(2000, 1, 1, 13, 0), At(2000, 1, 1, 17, 30, 45));
       },
       Wrapped(0x85, Bytes({0x83, 0xBE, 0x80, 0x88, 0x80, 0x92, 0x80, 0x93, 0xB0, 0x97}))},
      {"WriteTimeProfile Sunday only",
       [&] {
         return device.WriteTimeProfile("1", 1, {true, false, false, false, false, false, false}, 0, 0, 0, 0);
       },
       Wrapped(0x85, Bytes({0x81, 0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}))},
      {"SetDateTime", [&] { return device.SetDateTime("1", At(2025, 12, 31, 23, 59, 30)); },
       Wrapped(0x87, Bytes({0xD9, 0xA3, 0x83, 0xB1, 0x92, 0x85, 0x82}))},
      {"SetDateTime on a Sunday of 2009", [&] { return device.SetDateTime("1", At(2009, 3, 1, 7, 5)); },
       Wrapped(0x87, Bytes({0x85, 0x87, 0x80, 0x81, 0x83, 0x89, 0x80}))},
      {"SetMode 0", [&] { return device.SetMode("1", 0); }, Wrapped(0xE6)},
      {"SetMode 1", [&] { return device.SetMode("1", 1); }, Wrapped(0xE7)},
      {"SetMode 2", [&] { return device.SetMode("1", 2); }, Wrapped(0xE4)},
      {"SetMode 3", [&] { return device.SetMode("1", 3); }, Wrapped(0xE5)},
      {"SetMode 4", [&] { return device.SetMode("1", 4); }, Wrapped(0xE2)},
      {"SetMode 5", [&] { return device.SetMode("1", 5); }, Wrapped(0xE3)},
      {"WriteConfig", [&] { return device.WriteConfig(*device.Controllers[0]); },
       Wrapped(0x84, Bytes({0x83, 0x94, 0x8A, 0x8A, 0x80, 0x81, 0xC2, 0x9C, 0x8E, 0x88}))},
  };
  for (const Case& c : cases) {
    const std::uint8_t seq = device.Controllers[0]->SendSeq;
    ASSERT_EQ(c.call(), 0) << c.what;
    const ctrlsim::ReceivedCommand got = Last();
    EXPECT_EQ(got.code, 0x83) << c.what;
    EXPECT_EQ(got.seq, seq) << c.what;
    EXPECT_EQ(got.data, c.data) << c.what;
    EXPECT_EQ(device.Controllers[0]->SendSeq, static_cast<std::uint8_t>(seq + 1)) << c.what;
  }
}

TEST_F(Commands, TheFrameOnTheWireIsTheStandardFrameOfItsNumberAndData) {
  device.Controllers[0]->SendSeq = 5;
  ASSERT_EQ(device.SetMode("1", 0), 0);
  const ctrlsim::ReceivedCommand got = Last();
  EXPECT_EQ(got.seq, 5);
  EXPECT_EQ(got.crc, 0x4C);
}

TEST_F(Commands, ChecksComeBeforeAnythingIsSent) {
  const auto before = sim.Stats("127.0.0.2").commands;
  EXPECT_EQ(device.SetMode("1", 6), 1004);
  EXPECT_EQ(device.SetMode("9", 0), 4501);
  EXPECT_EQ(device.WriteCard("01", "00000001", true, 1, 1), 4501);  // identifiers match exactly
  TController stranger("9", "127.0.0.2");
  device.Disconnect(false);
  EXPECT_EQ(device.SetMode("1", 0), 1008);
  EXPECT_EQ(device.WriteConfig(stranger), 1008);
  EXPECT_EQ(device.ClearCards("1"), 1008);
  EXPECT_EQ(sim.Stats("127.0.0.2").commands, before);
}

TEST_F(Commands, NakThreeTimesGives1009WithThreeSequenceNumbers) {
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetReply(ctrlsim::Reply::Nak); });
  sim.Control("127.0.0.2", [](ctrlsim::SimController& c) { c.ClearCommands(); });
  const std::uint8_t seq = device.Controllers[0]->SendSeq;
  EXPECT_EQ(device.SetMode("1", 2), 1009);
  const auto got = sim.Commands("127.0.0.2");
  ASSERT_EQ(got.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(got[i].seq, static_cast<std::uint8_t>(seq + i));
    EXPECT_EQ(got[i].name, "SetMode");
  }
}

TEST_F(Commands, NakOnceThenAckSucceedsOnTheSecondAttempt) {
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.ClearCommands();
    c.SetReply(ctrlsim::Reply::Nak, 1);
  });
  EXPECT_EQ(device.ClearDates("1"), 0);
  EXPECT_EQ(sim.Commands("127.0.0.2").size(), 2u);
}

TEST_F(Commands, SilenceGives1007AfterOneAttemptWithTheChannelText) {
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.ClearCommands();
    c.SetReply(ctrlsim::Reply::Silent);
  });
  EXPECT_EQ(device.WriteCard("1", "00000001", true, 1, 1), 1007);
  EXPECT_EQ(sim.Commands("127.0.0.2").size(), 1u);
  EXPECT_EQ(device.LastError(), "Сервер не отвечает");
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetReply(ctrlsim::Reply::Ack); });
  EXPECT_EQ(device.WriteCard("1", "00000001", true, 1, 1), 0);
  EXPECT_TRUE(device.LastError().empty());
}

TEST_F(Commands, WrongAcknowledgedCrcGives1014AfterThreeAttempts) {
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.ClearCommands();
    c.SetReply(ctrlsim::Reply::WrongCrc);
  });
  EXPECT_EQ(device.SetMode("1", 0), 1014);
  EXPECT_EQ(sim.Commands("127.0.0.2").size(), 3u);
}

TEST_F(Commands, GarbageCostsOneAttemptAndStaleAcknowledgementsAreSkipped) {
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.ClearCommands();
    c.SetReply(ctrlsim::Reply::Garbage, 1);
    c.SetReply(ctrlsim::Reply::Duplicate, 1);
  });
  EXPECT_EQ(device.SetMode("1", 0), 0);  // garbage: 1014, then the second attempt is taken
  EXPECT_EQ(device.SetMode("1", 1), 0);  // the stale ACKs of earlier numbers wait in the channel
  EXPECT_EQ(device.SetMode("1", 2), 0);  // ... and so does the duplicate
  EXPECT_EQ(sim.Commands("127.0.0.2").size(), 4u);
}

// Datagrams that are not the awaited acknowledgement count towards the ten that one attempt
// reads; the tenth ends the attempt with 1014. Half of them are the commanded controller's
// acknowledgements of other numbers, half NAKs of the awaited numbers from another address,
// which must not settle the wait.
TEST_F(Commands, TenDatagramsWithoutTheAcknowledgementEndAnAttempt) {
  ctrlsim::ControllerOptions other = FastController("127.0.0.3");
  other.announce = false;
  sim.Add(other);
  const auto straysThenCommand = [&](int strays) {
    const std::uint8_t next = device.Controllers[0]->SendSeq;
    sim.Control("127.0.0.2", [](ctrlsim::SimController& c) { c.ClearCommands(); });
    for (int i = 0; i < strays; ++i) {
      const auto from = i % 2 ? "127.0.0.3" : "127.0.0.2";
      const std::string stray = i % 2 ? frames::BuildAck(static_cast<std::uint8_t>(next + i % 3), 0x00, frames::kNak)
                                      : frames::BuildAck(static_cast<std::uint8_t>(next + 100 + i), 0x00);
      sim.Control(from, [&](ctrlsim::SimController& c) { c.SendDatagram(stray, 1124); });
    }
    return device.SetMode("1", 1);
  };
  EXPECT_EQ(straysThenCommand(9), 0);
  EXPECT_EQ(sim.Commands("127.0.0.2").size(), 1u);
  EXPECT_EQ(straysThenCommand(10), 0);  // the first attempt reads ten strays; the second succeeds
  EXPECT_EQ(sim.Commands("127.0.0.2").size(), 2u);
  // 29 strays and the late acknowledgements of the first two attempts fill all three attempts.
  EXPECT_EQ(straysThenCommand(29), 1014);
  // The third attempt ends on queued strays before the simulator has had to answer its frame.
  EXPECT_TRUE(PumpUntil([&] { return sim.Commands("127.0.0.2").size() >= 3u; }));
  EXPECT_EQ(sim.Commands("127.0.0.2").size(), 3u);
}

TEST_F(Commands, AnOfflineControllerStillGetsTheCommand) {
  device.Controllers[0]->SetOnline(false);
  EXPECT_EQ(device.DeleteCard("1", "00A1B2C3"), 0);
  EXPECT_EQ(Last().name, "DeleteCard");
}

TEST_F(Commands, AnUnreachableControllerGives1007) {
  device.Controllers.Add(std::make_unique<TController>("2", "127.0.0.9"));
  EXPECT_EQ(device.ClearCards("2"), 1007);
}

}  // namespace
}  // namespace netdevice_testing
