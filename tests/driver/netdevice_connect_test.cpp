// Connecting, disconnecting, polling and status requests of the network device against
// simulated controllers.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/driver/netdevice_test_support.h"

namespace netdevice_testing {
namespace {

// True when a plain socket (no SO_REUSEADDR) can take the wildcard port: nobody holds it.
bool PortFree(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  ::close(fd);
  return ok;
}

using Connect = NetDeviceTest;

TEST_F(Connect, WaitsForEveryListedControllerAndAnswersEachAnnouncement) {
  ConnectTo({"127.0.0.2", "127.0.0.3"});
  EXPECT_TRUE(device.Connected());
  EXPECT_FALSE(device.Busy());
  EXPECT_TRUE(device.PollTimer().Enabled());
  for (const auto& c : device.Controllers) EXPECT_TRUE(c->Online) << c->IPAddr;
  for (const char* a : {"127.0.0.2", "127.0.0.3"}) {
    EXPECT_FALSE(CommandsNamed(a, "HelloAnswer").empty()) << a;
    EXPECT_TRUE(sim.Linked(a));
  }
}

TEST_F(Connect, AgainWhileConnectedAnswersZeroAndSendsNothing) {
  ConnectTo({"127.0.0.2"});
  const auto before = sim.Stats("127.0.0.2").commands;
  EXPECT_EQ(device.Connect(), 0);
  PumpFor(50ms);
  EXPECT_EQ(sim.Stats("127.0.0.2").commands, before);
}

TEST_F(Connect, SilentControllerGives74AndLeavesThePortsFree) {
  TNetDeviceTimings t = FastTimings();
  t.ConnectWaitMs = 300;
  TMorvikNetDevice quick(t);
  quick.SetBufferFolder(folder.Path().string());
  quick.Controllers.Add(std::make_unique<TController>("1", "127.0.0.2"));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(quick.Connect(), 74);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
  EXPECT_FALSE(quick.Connected());
  EXPECT_FALSE(quick.Busy());
  EXPECT_FALSE(quick.PollTimer().Enabled());
  EXPECT_FALSE(quick.CmdChannel().Connected());
  EXPECT_FALSE(quick.EventChannel().Connected());
  EXPECT_TRUE(PortFree(1124));
  EXPECT_TRUE(PortFree(1125));
}

TEST_F(Connect, EmptyListGives74) {
  TNetDeviceTimings t = FastTimings();
  t.ConnectWaitMs = 100;
  TMorvikNetDevice quick(t);
  quick.SetBufferFolder(folder.Path().string());
  EXPECT_EQ(quick.Connect(), 74);
  EXPECT_FALSE(quick.Connected());
}

TEST_F(Connect, OneOfTwoMissingGives74AndEveryControllerOffline) {
  TNetDeviceTimings t = FastTimings();
  t.ConnectWaitMs = 300;
  TMorvikNetDevice quick(t);
  quick.SetBufferFolder(folder.Path().string());
  quick.Controllers.Add(std::make_unique<TController>("1", "127.0.0.2"));
  quick.Controllers.Add(std::make_unique<TController>("2", "127.0.0.3"));
  sim.Add(FastController("127.0.0.2"));
  sim.Start();
  EXPECT_EQ(quick.Connect(), 74);
  for (const auto& c : quick.Controllers) EXPECT_FALSE(c->Online);
}

TEST_F(Connect, PortHeldByAnotherProgramGives4505WithTheSystemText) {
  const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(1124);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  AddController("127.0.0.2", /*simulate=*/false);
  EXPECT_EQ(device.Connect(), 4505);
  ::close(holder);
  EXPECT_FALSE(device.LastError().empty());
  EXPECT_FALSE(device.Connected());
  EXPECT_FALSE(device.EventChannel().Connected());
  EXPECT_FALSE(device.CmdChannel().Connected());
  EXPECT_TRUE(PortFree(1125));
}

TEST_F(Connect, WhileTheConnectWaitRunsANestedConnectAnswers1009) {
  AddController("127.0.0.2");
  AddController("127.0.0.3", /*simulate=*/false);
  sim.Start();
  int nested = -1;
  device.OnEvent = [&](const TEvent&) { nested = device.Connect(); };
  ctrlsim::EventSpec e;
  Control("127.0.0.2", [&](ctrlsim::SimController& c) { c.QueueEvent(e); });
  sim.Add(FastController("127.0.0.3"));
  // .3 announces too, so the outer connect ends well; the event of .2 arrives during its wait.
  EXPECT_EQ(device.Connect(), 0);
  PumpUntil([&] { return nested != -1; });
  EXPECT_EQ(nested, 1009);
}

using Disconnect = NetDeviceTest;

TEST_F(Disconnect, WithGoodbyeToEveryListedControllerOfflineOnesIncluded) {
  ConnectTo({"127.0.0.2", "127.0.0.3"});
  device.Controllers[1]->SetOnline(false);
  device.Disconnect(true);
  EXPECT_EQ(CommandsNamed("127.0.0.2", "Goodbye").size(), 1u);
  const auto offlineGoodbyes = CommandsNamed("127.0.0.3", "Goodbye");
  ASSERT_EQ(offlineGoodbyes.size(), 1u);
  EXPECT_EQ(offlineGoodbyes[0].data, "\x84");
  EXPECT_FALSE(device.Connected());
  EXPECT_FALSE(device.PollTimer().Enabled());
  for (const auto& c : device.Controllers) EXPECT_FALSE(c->Online);
  EXPECT_FALSE(device.CmdChannel().Connected());
  EXPECT_FALSE(device.EventChannel().Connected());
}

TEST_F(Disconnect, WithoutGoodbyeSendsNothingAndASecondCallNothingEither) {
  ConnectTo({"127.0.0.2"});
  const auto before = sim.Stats("127.0.0.2").commands;
  device.Disconnect(false);
  EXPECT_EQ(sim.Stats("127.0.0.2").commands, before);
  EXPECT_FALSE(device.Connected());
  device.Disconnect(true);  // not connected: nothing
  EXPECT_EQ(sim.Stats("127.0.0.2").commands, before);
}

TEST_F(Disconnect, FromInsideTheStatusWaitDelaysThenClosesAndTheWaitEndsQuietly) {
  ConnectTo({"127.0.0.2"});
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.SetStatusLength(14);  // never a valid reply: the wait runs to its end
    c.SetCommandHook([](ctrlsim::SimController& self, const ctrlsim::ReceivedCommand& command) {
      if (command.name == "StatusRequest") self.QueueEvent(ctrlsim::EventSpec{});
    });
  });
  bool disconnected = false;
  device.OnEvent = [&](const TEvent&) {
    const auto start = std::chrono::steady_clock::now();
    device.Disconnect(true);
    disconnected = std::chrono::steady_clock::now() - start >= 45ms;  // the busy delay (tick-rounded)
  };
  EXPECT_EQ(device.RequestStatus(), 74);
  EXPECT_TRUE(disconnected);
  EXPECT_FALSE(device.Connected());
  EXPECT_FALSE(device.Busy());
  EXPECT_FALSE(device.EventChannel().Connected());
  EXPECT_EQ(CommandsNamed("127.0.0.2", "Goodbye").size(), 1u);
}

TEST_F(Disconnect, CanReconnectAfterwards) {
  ConnectTo({"127.0.0.2"});
  device.Disconnect(true);
  EXPECT_EQ(device.Connect(), 0);  // the controller announces again after the goodbye
  EXPECT_TRUE(device.Controllers[0]->Online);
}

using Poll = NetDeviceTest;

TEST_F(Poll, FailedPollMarksOfflineAndTheNextAnnouncementBringsItBack) {
  TNetDeviceTimings t = FastTimings();
  t.PollIntervalMs = 100;
  t.ChannelTimeoutMs = 80;  // a poll to a silent controller leaves the thread time for the next tick
  TMorvikNetDevice polling(t);
  polling.SetBufferFolder(folder.Path().string());
  polling.Controllers.Add(std::make_unique<TController>("1", "127.0.0.2"));
  polling.Controllers.Add(std::make_unique<TController>("2", "127.0.0.3"));
  sim.Add(FastController("127.0.0.2"));
  sim.Add(FastController("127.0.0.3"));
  sim.Start();
  ASSERT_EQ(polling.Connect(), 0);
  ASSERT_TRUE(PumpUntil([&] { return CommandsNamed("127.0.0.2", "Poll").size() >= 2; }));

  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetOffline(true); });
  ASSERT_TRUE(PumpUntil([&] { return !polling.Controllers[0]->Online; }));
  EXPECT_TRUE(polling.Connected());  // the link stays up while controllers come and go
  EXPECT_TRUE(polling.Controllers[1]->Online);
  // The simulator's thread has put the unanswered poll on record before the count is taken.
  ASSERT_TRUE(PumpUntil([&] {
    const auto polls = CommandsNamed("127.0.0.2", "Poll");
    return !polls.empty() && polls.back().reply == ctrlsim::Reply::Silent;
  }));
  const auto polled = CommandsNamed("127.0.0.2", "Poll").size();
  PumpFor(350ms);
  EXPECT_EQ(CommandsNamed("127.0.0.2", "Poll").size(), polled);  // offline: not polled

  // Back, it announces once, and the device's answer fails (three NAKs): still offline.
  const auto answered = CommandsNamed("127.0.0.2", "HelloAnswer").size();
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.SetOffline(false);
    c.SetAnnouncing(false);
    c.SetReply(ctrlsim::Reply::Nak, 3);
    c.AnnounceNow();
  });
  ASSERT_TRUE(PumpUntil([&] { return CommandsNamed("127.0.0.2", "HelloAnswer").size() == answered + 3; }));
  PumpFor(50ms);
  EXPECT_FALSE(polling.Controllers[0]->Online);
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetAnnouncing(true); });
  ASSERT_TRUE(PumpUntil([&] { return polling.Controllers[0]->Online; }));
  ASSERT_TRUE(PumpUntil([&] { return CommandsNamed("127.0.0.2", "Poll").size() > polled; }));
  polling.Disconnect(false);
}

TEST_F(Poll, ControllerGoodbyeMarksItOffline) {
  ConnectTo({"127.0.0.2"});
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.QueueGoodbye(); });
  ASSERT_TRUE(PumpUntil([&] { return !device.Controllers[0]->Online; }));
  EXPECT_TRUE(device.Connected());
}

using Status = NetDeviceTest;

TEST_F(Status, FifteenByteRepliesFillTheStatusWordLowByteFirst) {
  ConnectTo({"127.0.0.2", "127.0.0.3"});
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetStatus(0x8182); });
  Control("127.0.0.3", [](ctrlsim::SimController& c) {
    c.SetStatus(0x0304);
    c.SetWrapStatus(true);
  });
  EXPECT_EQ(device.RequestStatus(), 0);
  EXPECT_EQ(device.Controllers[0]->Status, 0x8182);
  EXPECT_EQ(device.Controllers[1]->Status, 0x0304);
  EXPECT_TRUE(device.Controllers[0]->Replied);
  EXPECT_FALSE(device.Busy());
  const auto requests = CommandsNamed("127.0.0.2", "StatusRequest");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].data, "\x81");
}

TEST_F(Status, RepliesOf14Or16BytesAreIgnored) {
  ConnectTo({"127.0.0.2"});
  for (std::size_t length : {14u, 16u}) {
    Control("127.0.0.2", [&](ctrlsim::SimController& c) {
      c.SetStatus(0x1234);
      c.SetStatusLength(length);
    });
    EXPECT_EQ(device.RequestStatus(), 74) << length;
    EXPECT_EQ(device.Controllers[0]->Status, 0) << length;
    EXPECT_FALSE(device.Controllers[0]->Replied);
  }
}

TEST_F(Status, OfflineControllersAreNotAskedAndNoneOnlineGives74) {
  ConnectTo({"127.0.0.2", "127.0.0.3"});
  device.Controllers[1]->SetOnline(false);
  EXPECT_EQ(device.RequestStatus(), 0);
  EXPECT_TRUE(CommandsNamed("127.0.0.3", "StatusRequest").empty());
  device.Controllers[0]->SetOnline(false);
  EXPECT_EQ(device.RequestStatus(), 74);
}

TEST_F(Status, NotConnectedGives1008AndASilentControllerItsTransactionCode) {
  AddController("127.0.0.2");
  EXPECT_EQ(device.RequestStatus(), 1008);
  sim.Start();
  ASSERT_EQ(device.Connect(), 0);
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetReply(ctrlsim::Reply::Silent); });
  EXPECT_EQ(device.RequestStatus(), 1007);
}

TEST_F(Status, ANestedRequestAnswers1009AndKeepsTheRepliesOfTheRunningWait) {
  ConnectTo({"127.0.0.2", "127.0.0.3"});
  Control("127.0.0.2", [](ctrlsim::SimController& c) {
    c.SetStatus(0x0102);
    // Right after its status reply, .2 reports an event: the reply is in when the event comes.
    c.SetCommandHook([](ctrlsim::SimController& self, const ctrlsim::ReceivedCommand& command) {
      if (command.name == "StatusRequest") self.QueueEvent(ctrlsim::EventSpec{});
    });
  });
  Control("127.0.0.3", [](ctrlsim::SimController& c) {
    c.SetStatus(0x0304);
    c.SetStatusDelay(150ms);  // still missing when the event comes
  });
  // The event's handler asks again, as a host answering an event might.
  std::vector<int> nested;
  device.OnEvent = [&](const TEvent&) {
    nested.push_back(device.RequestStatus());
    nested.push_back(device.WriteCard("1", "00000001", false, 1, 1));
  };
  EXPECT_EQ(device.RequestStatus(), 0);
  ASSERT_EQ(nested.size(), 2u);
  EXPECT_EQ(nested[0], 1009);
  EXPECT_EQ(nested[1], 1009);
  EXPECT_TRUE(device.Controllers[0]->Replied);
  EXPECT_EQ(device.Controllers[0]->Status, 0x0102);
  EXPECT_EQ(device.Controllers[1]->Status, 0x0304);
}

}  // namespace
}  // namespace netdevice_testing
