// The receive path of the network device: acknowledgement, the sequence rule, events, wrapped
// messages, and what a failure while handling a datagram leaves behind.
#include <optional>

#include "driver/link_frames.h"
#include "tests/driver/netdevice_test_support.h"

namespace netdevice_testing {
namespace {

TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  DateTimeParts p{year, month, day, hour, minute, second, 0};
  return EncodeDateTime(p);
}

ctrlsim::EventSpec Event(std::uint8_t code, int month, int day, int hour, int minute, int second,
                         std::string card = {}) {
  ctrlsim::EventSpec e;
  e.code = code;
  e.month = static_cast<std::uint8_t>(month);
  e.day = static_cast<std::uint8_t>(day);
  e.hour = static_cast<std::uint8_t>(hour);
  e.minute = static_cast<std::uint8_t>(minute);
  e.second = static_cast<std::uint8_t>(second);
  e.card = std::move(card);
  return e;
}

class Receive : public NetDeviceTest {
 protected:
  void SetUp() override {
    device.SetClock([] { return At(2025, 6, 15, 12, 0, 0); });
    ConnectTo({"127.0.0.2"});
  }
  void Queue(const ctrlsim::EventSpec& e, int count = 1) {
    Control("127.0.0.2", [&](ctrlsim::SimController& c) { c.QueueEvent(e, count); });
  }
  void QueueFrame(std::uint8_t code, const std::string& data) {
    Control("127.0.0.2", [&](ctrlsim::SimController& c) { c.QueueFrame(code, data); });
  }
  // Pumps until the controller has every frame acknowledged (and the device has handled them).
  void Settle() {
    ASSERT_TRUE(PumpUntil([&] { return sim.Stats("127.0.0.2").queued == 0; }));
    PumpFor(20ms);
  }
  std::uint8_t RecvSeq() const { return device.Controllers[0]->RecvSeq(); }
};

// The layouts themselves are checked in the link message tests; here, that what a controller
// sends reaches OnEvent with its controller's identifier.
TEST_F(Receive, EventsWithAndWithoutCard) {
  Queue(Event(4, 3, 7, 9, 41, 13, "00A1B2C3"));
  std::string thirteen = ctrlsim::EventData(Event(13, 1, 2, 3, 4, 5, "00A1B2C3"));
  thirteen.erase(thirteen.size() - 2, 1);  // a body of 13 bytes: no card, second from its last byte
  QueueFrame(0x84, thirteen);
  Settle();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].ID, "1");
  EXPECT_EQ(events[0].Event, 4);  // code byte 0x84: bit 7 cleared
  EXPECT_EQ(events[0].Card, "00A1B2C3");
  EXPECT_EQ(events[0].EDate, At(2025, 3, 7, 9, 41, 13));
  EXPECT_EQ(events[1].Event, 13);
  EXPECT_EQ(events[1].Card, "");
  EXPECT_EQ(events[1].EDate, At(2025, 1, 2, 3, 4, 5));
}

TEST_F(Receive, UnknownCodesAndImpossibleDatesAreAcknowledgedAndDropped) {
  Queue(Event(3, 5, 5, 5, 5, 5));
  Queue(Event(0x7F, 5, 5, 5, 5, 5));
  Queue(Event(4, 2, 29, 10, 0, 0));   // 2025 is not a leap year
  Queue(Event(4, 4, 31, 10, 0, 0));
  Queue(Event(4, 13, 1, 10, 0, 0));
  Queue(Event(1, 5, 5, 5, 5, 5));
  Settle();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Event, 1);
  EXPECT_EQ(sim.Stats("127.0.0.2").eventsAcked, 6);
}

TEST_F(Receive, EventsAreDatedInTheYearOfTheDeviceClock) {
  device.SetClock([] { return At(2024, 1, 1, 0, 0, 5); });
  Queue(Event(4, 12, 31, 23, 59, 59));  // December received in January: the year before
  Queue(Event(4, 2, 29, 10, 0, 0));     // 2024 is a leap year
  Settle();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].EDate, At(2023, 12, 31, 23, 59, 59));
  EXPECT_EQ(events[1].EDate, At(2024, 2, 29, 10, 0, 0));
}

TEST_F(Receive, WrappedEventsAndStatusRepliesAreHandledAsTheirInnerCode) {
  ctrlsim::EventSpec e = Event(2, 6, 1, 6, 30, 0, "0000ABCD");
  e.wrapped = true;
  Queue(e);
  QueueFrame(0x89, ctrlsim::StatusData(0x4321, 15));
  QueueFrame(0x89, "");
  Settle();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Card, "0000ABCD");
  EXPECT_EQ(device.Controllers[0]->Status, 0x4321);
  EXPECT_TRUE(device.Controllers[0]->Replied);
}

TEST_F(Receive, RepeatsAreAcknowledgedButHandledOnce) {
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetDuplicates(true); });
  Queue(Event(4, 6, 1, 1, 1, 1), 3);
  ASSERT_TRUE(PumpUntil([&] { return sim.Stats("127.0.0.2").eventsAcked == 3; }));
  // Each repeat makes the handler wait one channel time-out for a further datagram.
  ASSERT_TRUE(PumpUntil([&] { return sim.Stats("127.0.0.2").strayAcks >= 3; }));
  PumpFor(300ms);
  EXPECT_EQ(events.size(), 3u);
}

TEST_F(Receive, AnAnnouncementSetsRecvSeqToItsNumberWhateverItIs) {
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.SetNextSeq(200);
    c.AnnounceNow();
  });
  ASSERT_TRUE(PumpUntil([&] { return RecvSeq() == 200; }));
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.SetNextSeq(10);
    c.AnnounceNow();
  });
  ASSERT_TRUE(PumpUntil([&] { return RecvSeq() == 10; }));
  EXPECT_TRUE(device.Controllers[0]->Online);
  Queue(Event(4, 6, 1, 1, 1, 1));  // number 11: new after 10
  Settle();
  EXPECT_EQ(events.size(), 1u);
}

TEST_F(Receive, OldNumbersAreRepeatsAndTheWrapAfter255IsAccepted) {
  // After an announcement numbered 253, frames 254, 255, 0, 1 in a row are all new.
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.SetNextSeq(253);
    c.AnnounceNow();
  });
  ASSERT_TRUE(PumpUntil([&] { return RecvSeq() == 253; }));
  Queue(Event(4, 6, 1, 1, 1, 1), 4);
  Settle();
  EXPECT_EQ(events.size(), 4u);
  EXPECT_EQ(RecvSeq(), 1);
  // The controller gives up its frame 255 and goes on at 0: after 254, 0 and 1 are new.
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.SetNextSeq(253);
    c.AnnounceNow();
  });
  ASSERT_TRUE(PumpUntil([&] { return RecvSeq() == 253; }));
  Queue(Event(4, 6, 1, 1, 1, 1));
  Settle();
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetNextSeq(0); });
  Queue(Event(4, 6, 1, 1, 1, 2), 2);
  Settle();
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[6].EDate, At(2025, 6, 1, 1, 1, 2));
  EXPECT_EQ(RecvSeq(), 1);
  // A number below RecvSeq is acknowledged and not handled.
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetNextSeq(0); });
  Queue(Event(4, 6, 1, 1, 1, 1));
  Settle();
  EXPECT_EQ(events.size(), 7u);
  EXPECT_EQ(sim.Stats("127.0.0.2").eventsAcked, 8);
  // An announcement numbered 255 is not "nothing received yet": 254, taken before, stays taken.
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.SetNextSeq(255);
    c.AnnounceNow();
  });
  ASSERT_TRUE(PumpUntil([&] { return RecvSeq() == 255; }));
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetNextSeq(254); });
  Queue(Event(4, 6, 1, 1, 1, 1));
  Settle();
  EXPECT_EQ(events.size(), 7u);
  EXPECT_EQ(sim.Stats("127.0.0.2").eventsAcked, 9);
}

// A controller re-links while one of its frames is pending: the frame never reached the device, or
// the device took it and its acknowledgement was lost. The announcement takes the next number (or
// one of its own) and the pending frame is repeated with its old number after it. Either way every
// event reaches the host and the journal exactly once.
struct Reannouncement {
  const char* name;
  std::uint8_t announcedAt;              // the announcement before the pending frame
  bool frameLost;                        // else its acknowledgement is lost
  std::optional<std::uint8_t> relinkAt;  // the re-announcement's number; else the next one
};

void PrintTo(const Reannouncement& r, std::ostream* os) { *os << r.name; }

class ReceiveOverReannouncement : public Receive, public ::testing::WithParamInterface<Reannouncement> {};

TEST_P(ReceiveOverReannouncement, EveryEventIsHandledOnce) {
  const Reannouncement& p = GetParam();
  const int announcementsAcked = sim.Stats("127.0.0.2").announcementsAcked;
  Control("127.0.0.2", [&](ctrlsim::SimController& c) {
    c.SetNextSeq(p.announcedAt);
    c.AnnounceNow();
  });
  ASSERT_TRUE(PumpUntil([&] { return sim.Stats("127.0.0.2").announcementsAcked > announcementsAcked; }));
  const int sent = sim.Stats("127.0.0.2").framesSent;
  Control("127.0.0.2", [&](ctrlsim::SimController& c) {
    if (p.frameLost) c.LoseFrames(1);
    else c.LoseAcks(1);
    c.QueueEvent(Event(4, 6, 1, 1, 1, 0));
  });
  ASSERT_TRUE(PumpUntil([&] {
    return p.frameLost ? sim.Stats("127.0.0.2").framesSent > sent : events.size() == 1;
  }));
  Control("127.0.0.2", [&](ctrlsim::SimController& c) {
    if (p.relinkAt) c.SetNextSeq(*p.relinkAt);
    c.Relink();
    for (int second = 1; second <= 3; ++second) c.QueueEvent(Event(4, 6, 1, 1, 1, second));
  });
  Settle();
  EXPECT_GE(sim.Stats("127.0.0.2").repeats, 1);
  TEvents journalled;
  device.Journal().GetEvents({}, journalled, At(2000, 1, 1), At(2100, 1, 1));
  for (const TEvents* delivered : {&events, &journalled}) {
    ASSERT_EQ(delivered->size(), 4u);
    for (int second = 0; second <= 3; ++second) {
      EXPECT_EQ((*delivered)[second].EDate, At(2025, 6, 1, 1, 1, second));
    }
  }
  const int nextSeq = sim.Inspect("127.0.0.2", [](const ctrlsim::SimController& c) { return c.NextSeq(); });
  EXPECT_EQ(RecvSeq(), static_cast<std::uint8_t>(nextSeq - 1));
}

INSTANTIATE_TEST_SUITE_P(
    Seq, ReceiveOverReannouncement,
    ::testing::Values(Reannouncement{"FrameLostAnnouncementTakesTheNextNumber", 20, true, std::nullopt},
                      Reannouncement{"FrameLostAnnouncementTakes255", 253, true, std::nullopt},
                      Reannouncement{"AckLostAnnouncementAfterTheWrap", 252, false, 1},
                      Reannouncement{"AckLostAnnouncementNumbered255", 249, false, 255}),
    [](const ::testing::TestParamInfo<Reannouncement>& info) { return std::string(info.param.name); });

TEST_F(Receive, AcknowledgementFramesOnTheEventChannelAreAcknowledgedAndIgnored) {
  // 9-byte acknowledgements of the controller's own, sent as sequenced datagrams; the device's
  // acknowledgements of them match nothing the controller has pending.
  const int strays = sim.Stats("127.0.0.2").strayAcks;
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SendDatagram(frames::BuildAck(60, 0x12), 1125); });
  ASSERT_TRUE(PumpUntil([&] { return RecvSeq() == 60; }));
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.SendDatagram(frames::BuildAck(61, 0x34, frames::kNak), 1125);
  });
  ASSERT_TRUE(PumpUntil([&] { return RecvSeq() == 61; }));
  EXPECT_TRUE(PumpUntil([&] { return sim.Stats("127.0.0.2").strayAcks == strays + 2; }));
  EXPECT_TRUE(events.empty());
}

TEST_F(Receive, FramesFromAnUnlistedAddressGetNoAcknowledgement) {
  const std::uint8_t recvSeq = RecvSeq();
  sim.Add(FastController("127.0.0.3"));
  ASSERT_TRUE(PumpUntil([&] { return sim.Stats("127.0.0.3").announcements >= 5; }));
  PumpFor(50ms);
  EXPECT_EQ(sim.Stats("127.0.0.3").announcementsAcked, 0);
  EXPECT_EQ(sim.Stats("127.0.0.3").commands, 0);
  EXPECT_TRUE(device.Controllers.FindByIP("127.0.0.3") == nullptr);
  EXPECT_EQ(RecvSeq(), recvSeq);  // nothing of theirs counts as the listed controller's
}

TEST_F(Receive, GarbageIsDroppedAndTheNextFrameStillHandled) {
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SendGarbage(); });
  Queue(Event(4, 6, 1, 1, 1, 1));
  Settle();
  EXPECT_EQ(events.size(), 1u);
}

TEST_F(Receive, AThrowingHandlerDoesNotStopTheNextEvent) {
  int calls = 0;
  device.OnEvent = [&](const TEvent&) {
    ++calls;
    throw std::runtime_error("host failed");
  };
  Queue(Event(4, 6, 1, 1, 1, 1), 2);
  Settle();
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace netdevice_testing
