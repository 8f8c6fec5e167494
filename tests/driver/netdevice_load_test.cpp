// Five controllers each sending 2000 events as fast as the acknowledgements let them, into a
// journal of capacity 5000: every event is delivered exactly once and journalled exactly once.
#include <cstdio>
#include <map>
#include <set>

#include "tests/driver/netdevice_test_support.h"

namespace netdevice_testing {
namespace {

constexpr int kControllers = 5;
constexpr int kEventsEach = 2000;
constexpr int kCapacity = 5000;

// A card that names the controller and the event's number: every event is unique.
std::string CardOf(int controller, int n) {
  char text[9];
  std::snprintf(text, sizeof text, "%02X%06X", controller, n);
  return text;
}

ctrlsim::EventSpec EventOf(int controller, int n) {
  ctrlsim::EventSpec e;
  e.code = 4;
  e.month = 6;
  e.day = 1;
  e.hour = static_cast<std::uint8_t>(n / 3600);
  e.minute = static_cast<std::uint8_t>(n / 60 % 60);
  e.second = static_cast<std::uint8_t>(n % 60);
  e.card = CardOf(controller, n);
  return e;
}

using Load = NetDeviceTest;

TEST_F(Load, FiveControllersTwoThousandEventsEachNoneLostNoneTwice) {
  device.SetBufferCapacity(kCapacity);
  std::vector<std::string> addresses;
  for (int i = 0; i < kControllers; ++i) addresses.push_back("127.0.0." + std::to_string(2 + i));
  for (const auto& a : addresses) AddController(a);
  sim.Start();
  ASSERT_EQ(device.Connect(), 0);

  for (int i = 0; i < kControllers; ++i) {
    Control(addresses[i], [&](ctrlsim::SimController& c) {
      c.SetRecording(false);
      for (int n = 0; n < kEventsEach; ++n) c.QueueEvent(EventOf(i, n));
    });
  }
  const std::size_t total = kControllers * kEventsEach;
  ASSERT_TRUE(PumpUntil([&] { return events.size() >= total; }, 240000ms)) << events.size();
  PumpFor(100ms);

  std::map<std::string, int> delivered;
  for (const TEvent& e : events) ++delivered[e.Card];
  EXPECT_EQ(events.size(), total);
  EXPECT_EQ(delivered.size(), total);
  for (int i = 0; i < kControllers; ++i) {
    for (int n = 0; n < kEventsEach; ++n) {
      ASSERT_EQ(delivered[CardOf(i, n)], 1) << CardOf(i, n);
    }
    EXPECT_EQ(sim.Stats(addresses[i]).eventsAcked, kEventsEach);
  }

  // The journal keeps the newest kCapacity events, each once, in the order they were handed on.
  TEvents stored;
  DateTimeParts from{2000, 1, 1, 0, 0, 0, 0}, to{2100, 1, 1, 0, 0, 0, 0};
  device.Journal().GetEvents({}, stored, EncodeDateTime(from), EncodeDateTime(to));
  ASSERT_EQ(stored.size(), static_cast<std::size_t>(kCapacity));
  for (std::size_t k = 0; k < stored.size(); ++k) {
    const TEvent& expected = events[total - kCapacity + k];
    ASSERT_EQ(stored[k].Card, expected.Card) << k;
    ASSERT_EQ(stored[k].ID, expected.ID) << k;
    ASSERT_EQ(stored[k].EDate, expected.EDate) << k;
  }
}

}  // namespace
}  // namespace netdevice_testing
