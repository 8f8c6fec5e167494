// The simulated controller against a hand-driven driver side over loopback (each case in its own
// network namespace).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/tools/simulator_fake_device.h"
#include "tools/simulator/simulator.h"

namespace ctrlsim {
namespace {

using namespace std::chrono_literals;
using testing::Datagram;
using testing::FakeDevice;

constexpr auto kWithin = 2000ms;

ControllerOptions Fast(const std::string& address = "127.0.0.2") {
  ControllerOptions o;
  o.address = address;
  o.announceInterval = 50ms;
  o.resendInterval = 100ms;
  o.pollSilence = 0ms;
  return o;
}

class SimLink : public ::testing::Test {
 protected:
  void StartWith(const ControllerOptions& options) {
    sim.Add(options);
    sim.Start();
  }
  // Takes the next announcement, acknowledges it and answers it like the driver does.
  void LinkUp(const std::string& address = "127.0.0.2") {
    auto hello = NextOfCode(frames::kHello);
    ASSERT_TRUE(hello);
    ASSERT_EQ(hello->host, address);
    device.Acknowledge(*hello);
    const std::uint8_t crc = device.SendCommand(address, 7, frames::kKeepAlive, "\x84");
    auto ack = device.ReceiveCommandReply(kWithin);
    ASSERT_TRUE(ack && ack->valid);
    EXPECT_EQ(ack->frame.code, frames::kAck);
    EXPECT_EQ(ack->frame.ackedCrc, crc);
    ASSERT_TRUE(WaitFor([&] { return sim.Linked(address); }));
  }
  std::optional<Datagram> NextOfCode(std::uint8_t code) {
    for (int i = 0; i < 50; ++i) {
      auto d = device.ReceiveEvent(kWithin);
      if (!d) return std::nullopt;
      if (d->valid && d->frame.code == code) return d;
    }
    return std::nullopt;
  }
  template <class P>
  bool WaitFor(P predicate) {
    const auto deadline = std::chrono::steady_clock::now() + kWithin;
    while (!predicate()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  void Control(const std::function<void(SimController&)>& f, const std::string& address = "127.0.0.2") {
    sim.Control(address, f);
  }

  FakeDevice device;
  Simulator sim;
};

TEST(SimPortSharing, TheAddressBoundSocketWinsOverTheWildcardInEitherOrder) {
  for (bool wildcardFirst : {true, false}) {
    std::optional<UdpSocket> wildcard, specific;
    if (wildcardFirst) wildcard.emplace("", 1125);
    specific.emplace("127.0.0.2", 1125);
    if (!wildcardFirst) wildcard.emplace("", 1125);
    UdpSocket sender("127.0.0.1", 4000);
    ASSERT_TRUE(sender.SendTo("to-controller", "127.0.0.2", 1125));
    ASSERT_TRUE(sender.SendTo("to-device", "127.0.0.1", 1125));
    std::this_thread::sleep_for(20ms);
    std::string data, host;
    std::uint16_t port = 0;
    ASSERT_TRUE(specific->Receive(data, host, port));
    EXPECT_EQ(data, "to-controller");
    EXPECT_FALSE(specific->Receive(data, host, port));
    ASSERT_TRUE(wildcard->Receive(data, host, port));
    EXPECT_EQ(data, "to-device");
    EXPECT_FALSE(wildcard->Receive(data, host, port));
  }
}

TEST_F(SimLink, AnnouncesUntilAnsweredThenStops) {
  StartWith(Fast());
  auto first = NextOfCode(frames::kHello);
  auto second = NextOfCode(frames::kHello);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(second->frame.seq, first->frame.seq + 1);
  EXPECT_FALSE(sim.Linked("127.0.0.2"));
  LinkUp();
  // Drain what was sent before the answer; then it stays quiet.
  while (device.ReceiveEvent(60ms)) {
  }
  EXPECT_FALSE(device.ReceiveEvent(200ms));
  EXPECT_GE(sim.Stats("127.0.0.2").announcementsAcked, 1);
}

TEST_F(SimLink, AcknowledgesEveryCommandAndRecordsItDecoded) {
  StartWith(Fast());
  LinkUp();
  const std::string data = AddressHex("127.0.0.2") + std::string("\x81\x80\x81\xE7", 4);
  const std::uint8_t crc = device.SendCommand("127.0.0.2", 0x42, frames::kCommand, data);
  auto ack = device.ReceiveCommandReply(kWithin);
  ASSERT_TRUE(ack && ack->valid);
  EXPECT_EQ(ack->frame.code, frames::kAck);
  EXPECT_EQ(ack->frame.seq, 0x42);
  EXPECT_EQ(ack->frame.ackedCrc, crc);
  EXPECT_EQ(ack->host, "127.0.0.2");
  const auto commands = sim.Commands("127.0.0.2");
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].name, "HelloAnswer");
  EXPECT_EQ(commands[1].name, "SetMode");
  EXPECT_EQ(commands[1].mode, 1);
  EXPECT_EQ(commands[1].address, "7F000002");
  EXPECT_EQ(sim.Inspect("127.0.0.2", [](const SimController& c) { return c.Mode(); }), 1);
}

TEST_F(SimLink, MisbehavesAsToldThenRecovers) {
  StartWith(Fast());
  LinkUp();
  Control([](SimController& c) {
    c.SetReply(Reply::Nak, 1);
    c.SetReply(Reply::WrongCrc, 1);
    c.SetReply(Reply::Silent, 1);
    c.SetReply(Reply::Duplicate, 1);
    c.SetReply(Reply::Garbage, 1);
  });
  std::uint8_t crc = device.SendCommand("127.0.0.2", 1, frames::kKeepAlive, "\x81");
  auto nak = device.ReceiveCommandReply(kWithin);
  ASSERT_TRUE(nak && nak->valid);
  EXPECT_EQ(nak->frame.code, frames::kNak);
  EXPECT_EQ(nak->frame.ackedCrc, crc);

  crc = device.SendCommand("127.0.0.2", 2, frames::kKeepAlive, "\x81");
  auto wrong = device.ReceiveCommandReply(kWithin);
  ASSERT_TRUE(wrong && wrong->valid);
  EXPECT_EQ(wrong->frame.code, frames::kAck);
  EXPECT_NE(wrong->frame.ackedCrc, crc);

  device.SendCommand("127.0.0.2", 3, frames::kKeepAlive, "\x81");
  EXPECT_FALSE(device.ReceiveCommandReply(200ms));

  crc = device.SendCommand("127.0.0.2", 4, frames::kKeepAlive, "\x81");
  for (int i = 0; i < 2; ++i) {
    auto ack = device.ReceiveCommandReply(kWithin);
    ASSERT_TRUE(ack && ack->valid);
    EXPECT_EQ(ack->frame.seq, 4);
    EXPECT_EQ(ack->frame.ackedCrc, crc);
  }

  crc = device.SendCommand("127.0.0.2", 5, frames::kKeepAlive, "\x81");
  auto garbage = device.ReceiveCommandReply(kWithin);
  ASSERT_TRUE(garbage);
  EXPECT_FALSE(garbage->valid);
  auto after = device.ReceiveCommandReply(kWithin);
  ASSERT_TRUE(after && after->valid);
  EXPECT_EQ(after->frame.ackedCrc, crc);

  device.SendCommand("127.0.0.2", 6, frames::kKeepAlive, "\x81");
  auto normal = device.ReceiveCommandReply(kWithin);
  ASSERT_TRUE(normal && normal->valid);
  EXPECT_EQ(normal->frame.code, frames::kAck);
  const auto commands = sim.Commands("127.0.0.2");
  ASSERT_EQ(commands.size(), 7u);
  EXPECT_EQ(commands[1].reply, Reply::Nak);
  EXPECT_EQ(commands[3].reply, Reply::Silent);
  EXPECT_EQ(commands[6].reply, Reply::Ack);
}

TEST_F(SimLink, AnswersAStatusRequestWithFifteenBytes) {
  StartWith(Fast());
  LinkUp();
  Control([](SimController& c) { c.SetStatus(0xBEEF); });
  device.SendCommand("127.0.0.2", 9, frames::kStatusRequest, "\x81");
  ASSERT_TRUE(device.ReceiveCommandReply(kWithin));
  auto reply = NextOfCode(frames::kStatusReply);
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->frame.data.size(), 15u);
  EXPECT_EQ(static_cast<std::uint8_t>(reply->frame.data[12]), 0xEF);
  EXPECT_EQ(static_cast<std::uint8_t>(reply->frame.data[13]), 0xBE);
  device.Acknowledge(*reply);

  Control([](SimController& c) {
    c.SetWrapStatus(true);
    c.SetStatusLength(16);
  });
  device.SendCommand("127.0.0.2", 10, frames::kStatusRequest, "\x81");
  auto wrapped = NextOfCode(frames::kWrapped);
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(wrapped->frame.data.size(), 16u);
  EXPECT_EQ(static_cast<std::uint8_t>(wrapped->frame.data[0]), frames::kStatusReply);
}

// Also over a re-announcement: the pending frame keeps its number while the announcement takes
// the next one, and it is repeated as soon as the controller is linked again, long before its
// resend interval has run out.
TEST_F(SimLink, RepeatsAnUnacknowledgedFrameWithItsNumberThenGoesOn) {
  ControllerOptions o = Fast();
  o.resendInterval = 60s;
  StartWith(o);
  LinkUp();
  EventSpec e;
  e.code = 4;
  e.card = "00A1B2C3";
  Control([&](SimController& c) {
    c.LoseAcks(1);
    c.QueueEvent(e, 2);
  });
  auto first = NextOfCode(frames::kEvent);
  ASSERT_TRUE(first);
  device.Acknowledge(*first);  // lost on the way
  Control([](SimController& c) {
    c.SetNextSeq(200);
    c.Relink();
  });
  ASSERT_FALSE(sim.Linked("127.0.0.2"));
  LinkUp();
  EXPECT_EQ(sim.Inspect("127.0.0.2", [](const SimController& c) { return c.NextSeq(); }), 201);
  auto repeat = NextOfCode(frames::kEvent);
  ASSERT_TRUE(repeat);
  EXPECT_EQ(repeat->bytes, first->bytes);
  device.Acknowledge(*repeat);
  auto second = NextOfCode(frames::kEvent);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->frame.seq, 201);
  EXPECT_EQ(second->frame.data.substr(13), EventBody(e));
  device.Acknowledge(*second);
  ASSERT_TRUE(WaitFor([&] { return sim.Stats("127.0.0.2").eventsAcked == 2; }));
  const ControllerStats s = sim.Stats("127.0.0.2");
  EXPECT_GE(s.repeats, 1);
  EXPECT_EQ(s.queued, 0);
}

TEST_F(SimLink, OneCounterForAnnouncementsAndEventsAcrossTheWrap) {
  ControllerOptions o = Fast();
  o.firstSeq = 254;
  StartWith(o);
  auto hello = NextOfCode(frames::kHello);
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->frame.seq, 254);
  device.Acknowledge(*hello);
  device.SendCommand("127.0.0.2", 1, frames::kKeepAlive, "\x84");
  ASSERT_TRUE(WaitFor([&] { return sim.Linked("127.0.0.2"); }));
  const std::uint8_t next = sim.Inspect("127.0.0.2", [](const SimController& c) { return c.NextSeq(); });
  Control([](SimController& c) { c.QueueEvent(EventSpec{}, 2); });
  auto a = NextOfCode(frames::kEvent);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->frame.seq, next);
  device.Acknowledge(*a);
  auto b = NextOfCode(frames::kEvent);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->frame.seq, static_cast<std::uint8_t>(next + 1));
}

TEST_F(SimLink, DuplicatesSendEveryFrameTwiceWithOneNumber) {
  StartWith(Fast());
  LinkUp();
  Control([](SimController& c) {
    c.SetDuplicates(true);
    c.QueueEvent(EventSpec{});
  });
  auto a = NextOfCode(frames::kEvent);
  auto b = NextOfCode(frames::kEvent);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->bytes, b->bytes);
}

TEST_F(SimLink, FallsBackToAnnouncingWhenPollsStop) {
  ControllerOptions o = Fast();
  o.pollSilence = 300ms;
  StartWith(o);
  LinkUp();
  const auto linkedAt = std::chrono::steady_clock::now();
  device.SendCommand("127.0.0.2", 20, frames::kKeepAlive, "\x81");  // one poll keeps it linked
  while (device.ReceiveEvent(10ms)) {
  }
  auto hello = NextOfCode(frames::kHello);
  ASSERT_TRUE(hello);
  EXPECT_GE(std::chrono::steady_clock::now() - linkedAt, 300ms);
  EXPECT_FALSE(sim.Linked("127.0.0.2"));
}

TEST_F(SimLink, OfflineAnswersNothingAndComesBackAnnouncing) {
  StartWith(Fast());
  LinkUp();
  Control([](SimController& c) { c.SetOffline(true); });
  device.SendCommand("127.0.0.2", 30, frames::kKeepAlive, "\x81");
  EXPECT_FALSE(device.ReceiveCommandReply(200ms));
  const ReceivedCommand unanswered = sim.Commands("127.0.0.2").back();  // recorded all the same
  EXPECT_EQ(unanswered.seq, 30);
  EXPECT_EQ(unanswered.reply, Reply::Silent);
  while (device.ReceiveEvent(10ms)) {
  }
  EXPECT_FALSE(device.ReceiveEvent(200ms));
  Control([](SimController& c) { c.SetOffline(false); });
  EXPECT_TRUE(NextOfCode(frames::kHello));
}

TEST_F(SimLink, GoodbyeIsSentAndThenTheControllerKeepsQuiet) {
  StartWith(Fast());
  LinkUp();
  Control([](SimController& c) { c.QueueGoodbye(); });
  auto bye = NextOfCode(frames::kBye);
  ASSERT_TRUE(bye);
  device.Acknowledge(*bye);
  ASSERT_TRUE(WaitFor([&] { return !sim.Linked("127.0.0.2"); }));
  EXPECT_FALSE(device.ReceiveEvent(200ms));
}

TEST_F(SimLink, GarbageIsNotAFrame) {
  StartWith(Fast());
  LinkUp();
  while (device.ReceiveEvent(10ms)) {
  }
  Control([](SimController& c) { c.SendGarbage(); });
  auto garbage = device.ReceiveEvent(kWithin);
  ASSERT_TRUE(garbage);
  EXPECT_FALSE(garbage->valid);
}

TEST_F(SimLink, SeveralControllersEachSpeakFromTheirOwnAddress) {
  sim.Add(Fast("127.0.0.2"));
  sim.Add(Fast("127.0.0.3"));
  sim.Start();
  std::set<std::string> hosts;
  for (int i = 0; i < 20 && hosts.size() < 2; ++i) {
    if (auto d = NextOfCode(frames::kHello)) hosts.insert(d->host);
  }
  EXPECT_EQ(hosts, (std::set<std::string>{"127.0.0.2", "127.0.0.3"}));
  EXPECT_THROW(sim.Stats("127.0.0.9"), std::out_of_range);
}

}  // namespace
}  // namespace ctrlsim
