// The UDP channel over loopback. Each case runs in its own network namespace (see link.cmake).
#include "driver/udp_sync.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/exceptions.h"

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kNotResponding = "Сервер не отвечает";
constexpr const char* kNotConnected = "Соединение не установлено";

std::unique_ptr<TUDPSync> OpenChannel(const char* localPort, bool async = false, int timeoutMs = 300) {
  auto channel = std::make_unique<TUDPSync>();
  channel->SetLocalPort(localPort);
  channel->SetAsync(async);
  channel->SetTimeoutMs(timeoutMs);
  EXPECT_TRUE(channel->Connect()) << channel->LastError();
  return channel;
}

// Whether a plain socket (no address reuse) can bind the port: nobody else holds it.
bool PortIsFree(int port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return bound;
}

// Pumps every message of the thread until the condition holds or the time is up.
template <typename Condition>
bool PumpThreadUntil(Condition done, unsigned limitMs = 2000) {
  const std::uint64_t deadline = GetTickCount64() + limitMs;
  MSG msg{};
  while (!done() && GetTickCount64() < deadline) {
    WaitMessage(20);
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  }
  return done();
}

TEST(UdpChannelState, ConnectNeedsALocalPort) {
  TUDPSync channel;
  EXPECT_EQ(channel.Timeout(), 10);
  EXPECT_FALSE(channel.Connect());
  EXPECT_EQ(channel.LastError(), "Неверный адрес сервера или порт");
  EXPECT_FALSE(channel.Connected());
}

TEST(UdpChannelState, ClosedChannelRefusesWork) {
  TUDPSync channel;
  std::string data = "x", host = "y", port = "z";
  EXPECT_FALSE(channel.ReceiveData(data, host, port));
  EXPECT_EQ(channel.LastError(), kNotConnected);
  EXPECT_TRUE(data.empty() && host.empty() && port.empty());
  EXPECT_FALSE(channel.SendData("x", kLoopback, "1125"));
  EXPECT_EQ(channel.LastError(), kNotConnected);
  channel.Disconnect();  // nothing to do
  EXPECT_FALSE(channel.Connected());
}

TEST(UdpChannelState, BadPortTextsRaiseConversionErrors) {
  TUDPSync channel;
  channel.SetLocalPort("11x4");
  EXPECT_THROW(channel.Connect(), EConvertError);
  EXPECT_FALSE(channel.Connected());
  channel.SetLocalPort("70000");
  EXPECT_THROW(channel.Connect(), EConvertError);
  EXPECT_FALSE(channel.Connected());
  EXPECT_TRUE(PortIsFree(70000 - 65536));
  channel.SetLocalPort("1124");
  ASSERT_TRUE(channel.Connect());
  EXPECT_THROW(channel.SendData("x", kLoopback, "port"), EConvertError);
  EXPECT_THROW(channel.SendData("x", kLoopback, ""), EConvertError);  // no default port either
}

TEST(UdpChannelState, BindFailureLeavesTheChannelClosedWithTheSystemText) {
  const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(1124);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  TUDPSync channel;
  channel.SetLocalPort("1124");
  EXPECT_FALSE(channel.Connect());
  EXPECT_EQ(channel.LastError(), std::strerror(EADDRINUSE));
  EXPECT_FALSE(channel.Connected());
  ::close(holder);
}

TEST(UdpChannelState, DisconnectAndDestroyFreeThePort) {
  {
    auto channel = OpenChannel("1125", true);
    EXPECT_TRUE(channel->TimerEnabled());
    EXPECT_FALSE(PortIsFree(1125));
    channel->Disconnect();
    EXPECT_FALSE(channel->TimerEnabled());
    EXPECT_TRUE(PortIsFree(1125));
    ASSERT_TRUE(channel->Connect());
    EXPECT_FALSE(PortIsFree(1125));
  }
  EXPECT_TRUE(PortIsFree(1125));
}

TEST(UdpChannelTransfer, DatagramWithSenderAddressAndPort) {
  auto device = OpenChannel("1124");
  auto controller = OpenChannel("1125");
  const std::string payload("\x11\x00\x12\xFF frame", 9);
  ASSERT_TRUE(device->SendData(payload, kLoopback, "1125")) << device->LastError();
  std::string data, host, port;
  ASSERT_TRUE(controller->ReceiveData(data, host, port)) << controller->LastError();
  EXPECT_EQ(data, payload);
  EXPECT_EQ(host, kLoopback);
  EXPECT_EQ(port, "1124");
  EXPECT_TRUE(controller->LastError().empty());
}

TEST(UdpChannelTransfer, EmptyHostAndPortUseTheDefaults) {
  auto receiver = OpenChannel("1125");
  TUDPSync sender;
  sender.SetLocalPort("1124");
  sender.SetRemoteHost(kLoopback);
  sender.SetRemotePort("1125");
  ASSERT_TRUE(sender.Connect()) << sender.LastError();
  ASSERT_TRUE(sender.SendData("hello"));
  std::string data, host;
  ASSERT_TRUE(receiver->ReceiveData(data, host));
  EXPECT_EQ(data, "hello");
  // A channel with no default destination: the host "" is not an address.
  auto plain = OpenChannel("1126");
  plain->SetRemotePort("1125");
  EXPECT_FALSE(plain->SendData("x"));
  EXPECT_FALSE(plain->LastError().empty());
}

TEST(UdpChannelTransfer, TimeOutAndEmptyDatagramAreNoAnswer) {
  auto device = OpenChannel("1124", false, 150);
  std::string data, host;
  const std::uint64_t start = GetTickCount64();
  EXPECT_FALSE(device->ReceiveData(data, host));
  const std::uint64_t waited = GetTickCount64() - start;
  EXPECT_EQ(device->LastError(), kNotResponding);
  EXPECT_GE(waited, 140u);
  EXPECT_LT(waited, 1500u);

  auto controller = OpenChannel("1125");
  ASSERT_TRUE(controller->SendData("", kLoopback, "1124"));
  device->SetTimeoutMs(2000);
  const std::uint64_t again = GetTickCount64();
  EXPECT_FALSE(device->ReceiveData(data, host));
  EXPECT_EQ(device->LastError(), kNotResponding);
  EXPECT_LT(GetTickCount64() - again, 1000u);  // at once, not after the time-out
}

TEST(UdpChannelTransfer, OversizedDatagramIsAReceiveErrorNeverCut) {
  auto device = OpenChannel("1124");
  auto controller = OpenChannel("1125");
  ASSERT_TRUE(controller->SendData(std::string(TUDPSync::kMaxDatagram + 1, 'a'), kLoopback, "1124"));
  ASSERT_TRUE(controller->SendData(std::string(TUDPSync::kMaxDatagram, 'b'), kLoopback, "1124"));
  std::string data, host;
  EXPECT_FALSE(device->ReceiveData(data, host));
  EXPECT_EQ(device->LastError(), std::strerror(EMSGSIZE));
  EXPECT_TRUE(data.empty());
  ASSERT_TRUE(device->ReceiveData(data, host)) << device->LastError();
  EXPECT_EQ(data, std::string(TUDPSync::kMaxDatagram, 'b'));
}

// A channel whose wait reports readiness although no datagram is there (one that the kernel dropped
// after announcing it): the read must not block and counts as no answer.
class SpuriouslyReadyChannel : public TUDPSync {
 protected:
  int WaitReadable() override { return 1; }
};

TEST(UdpChannelTransfer, ReadinessWithoutADatagramIsNoAnswer) {
  SpuriouslyReadyChannel channel;
  channel.SetLocalPort("1124");
  channel.SetTimeout(10);
  ASSERT_TRUE(channel.Connect());
  std::string data, host;
  const std::uint64_t start = GetTickCount64();
  EXPECT_FALSE(channel.ReceiveData(data, host));
  EXPECT_EQ(channel.LastError(), kNotResponding);
  EXPECT_LT(GetTickCount64() - start, 1000u);
}

class UdpChannelAsync : public ::testing::Test {
 protected:
  void SetUp() override {
    events_ = OpenChannel("1125", true);
    events_->OnRead = [this](TUDPSync& channel) {
      std::string data, host;
      if (channel.ReceiveData(data, host)) received_.push_back(data);
    };
    sender_ = OpenChannel("1124");
  }
  void Send(const std::string& data) { ASSERT_TRUE(sender_->SendData(data, kLoopback, "1125")); }

  std::unique_ptr<TUDPSync> events_;
  std::unique_ptr<TUDPSync> sender_;
  std::vector<std::string> received_;
};

TEST_F(UdpChannelAsync, ChannelPumpDeliversEveryDatagramInOrder) {
  Send("one");
  Send("two");
  Send("three");
  const std::uint64_t deadline = GetTickCount64() + 2000;
  while (received_.size() < 3 && GetTickCount64() < deadline) {
    events_->ProcessMessages();
    Sleep(5);
  }
  EXPECT_EQ(received_, (std::vector<std::string>{"one", "two", "three"}));
}

TEST_F(UdpChannelAsync, ThreadMessageLoopDeliversToo) {
  Send("event");
  EXPECT_TRUE(PumpThreadUntil([this] { return !received_.empty(); }));
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0], "event");
}

TEST_F(UdpChannelAsync, HandlerErrorsAreSwallowed) {
  int calls = 0;
  events_->OnRead = [&calls](TUDPSync& channel) {
    ++calls;
    std::string data, host;
    channel.ReceiveData(data, host);
    throw Exception("handler failed");
  };
  Send("a");
  Send("b");
  const std::uint64_t deadline = GetTickCount64() + 2000;
  while (calls < 2 && GetTickCount64() < deadline) {
    EXPECT_NO_THROW(events_->ProcessMessages());
    Sleep(5);
  }
  EXPECT_EQ(calls, 2);
}

TEST_F(UdpChannelAsync, NoNotificationAfterDisconnect) {
  events_->Disconnect();
  Send("lost");
  PumpThreadUntil([] { return false; }, 300);
  EXPECT_TRUE(received_.empty());
}

TEST_F(UdpChannelAsync, AnUnreadDatagramNeverHoldsThePump) {
  events_->OnRead = nullptr;  // nobody takes the datagram: the notification keeps coming
  Send("stays");
  Sleep(20);
  const std::uint64_t start = GetTickCount64();
  events_->ProcessMessages();
  EXPECT_LT(GetTickCount64() - start, 2000u);
  std::string data, host;
  ASSERT_TRUE(events_->ReceiveData(data, host));
  EXPECT_EQ(data, "stays");
}

TEST(UdpChannelState, ConnectAgainReopensWithoutLosingThePort) {
  auto channel = OpenChannel("1125");
  ASSERT_TRUE(channel->Connect());
  channel->Disconnect();
  EXPECT_TRUE(PortIsFree(1125));
}

TEST(UdpChannelSync, NeverNotifies) {
  auto channel = OpenChannel("1125");
  EXPECT_FALSE(channel->TimerEnabled());
  int calls = 0;
  channel->OnRead = [&calls](TUDPSync&) { ++calls; };
  auto sender = OpenChannel("1124");
  ASSERT_TRUE(sender->SendData("x", kLoopback, "1125"));
  PumpThreadUntil([] { return false; }, 300);
  channel->ProcessMessages();
  EXPECT_EQ(calls, 0);
  std::string data, host;
  EXPECT_TRUE(channel->ReceiveData(data, host));
  EXPECT_EQ(data, "x");
}

}  // namespace
