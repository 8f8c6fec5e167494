#include "platform/reactor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/com_object.h"
#include "platform/unique_fd.h"

namespace {

constexpr UINT kSocketMessage = WM_USER + 1;

// A UDP socket bound to an ephemeral loopback port.
class LoopbackSocket {
 public:
  LoopbackSocket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("bind");
    socklen_t len = sizeof addr;
    getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  int Fd() const { return fd_.Get(); }
  void SendTo(const LoopbackSocket& target, const std::string& data) const {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(target.port_);
    ASSERT_EQ(sendto(fd_.Get(), data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr),
              static_cast<ssize_t>(data.size()));
  }
  // One datagram, or "" when none waits.
  std::string ReceiveNow() const {
    char buffer[2048];
    const ssize_t n = recv(fd_.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }
  bool Readable() const {
    pollfd p{fd_.Get(), POLLIN, 0};
    return poll(&p, 1, 0) == 1;
  }

 private:
  UniqueFd fd_;
  std::uint16_t port_ = 0;
};

// A hidden window that records what reaches it and runs an optional action per message.
class TestWindow {
 public:
  using Action = std::function<void(UINT, WPARAM, LPARAM)>;
  explicit TestWindow(Action action = {})
      : action_(std::move(action)), hwnd_(AllocateHWnd([this](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
          received.push_back(m);
          if (action_) action_(m, w, l);
          return 0;
        })) {}
  ~TestWindow() { DeallocateHWnd(hwnd_); }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND Handle() const { return hwnd_; }
  int Count(UINT message) const {
    int n = 0;
    for (UINT m : received) n += m == message ? 1 : 0;
    return n;
  }
  std::vector<UINT> received;

 private:
  Action action_;
  HWND hwnd_;
};

// Pumps the thread's messages (or one window's) until done() holds or the time is up; bounded in
// time and in the number of messages. Answers done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 2000, HWND filter = nullptr) {
  const std::uint64_t deadline = GetTickCount64() + static_cast<std::uint64_t>(timeoutMs);
  for (int i = 0; i < 100000 && !done() && GetTickCount64() < deadline; ++i) {
    MSG msg;
    if (PeekMessage(&msg, filter, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    } else {
      Sleep(1);
    }
  }
  return done();
}

// Dispatches what is waiting right now (and what that posts), at most a bounded number.
int DrainNow(HWND filter = nullptr) {
  int n = 0;
  MSG msg;
  while (n < 10000 && PeekMessage(&msg, filter, 0, 0, PM_REMOVE)) {
    DispatchMessage(&msg);
    ++n;
  }
  return n;
}

bool FdReadable(int fd, int timeoutMs = 0) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1;
}

class ReactorTest : public ::testing::Test {
 protected:
  void SetUp() override { DrainNow(); }
  void TearDown() override { DrainNow(); }
};

TEST_F(ReactorTest, PostedMessagesArriveInOrderAndNoRemoveLeavesThem) {
  TestWindow window;
  ASSERT_TRUE(PostMessage(window.Handle(), WM_USER + 1, 1, 0));
  ASSERT_TRUE(PostMessage(window.Handle(), WM_USER + 2, 2, 0));
  ASSERT_TRUE(PostMessage(window.Handle(), WM_USER + 3, 3, 0));
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1u);
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1u);
  // A range filter skips over earlier messages without disturbing them.
  ASSERT_TRUE(PeekMessage(&msg, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_EQ(DrainNow(), 2);
  EXPECT_EQ(window.received, (std::vector<UINT>{WM_USER + 1, WM_USER + 2}));
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(ReactorTest, DeadWindowsAndBadArgumentsAreRefused) {
  HWND dead;
  {
    TestWindow window;
    dead = window.Handle();
    EXPECT_TRUE(IsWindow(dead));
  }
  EXPECT_FALSE(IsWindow(dead));
  EXPECT_FALSE(IsWindow(nullptr));
  EXPECT_FALSE(PostMessage(dead, WM_USER, 0, 0));
  EXPECT_EQ(SetTimer(dead, 1, 10), 0u);
  EXPECT_FALSE(KillTimer(dead, 1));
  EXPECT_EQ(SendMessage(dead, WM_USER, 0, 0), 0);
  MSG msg{dead, WM_USER, 0, 0, 0};
  EXPECT_EQ(DispatchMessage(&msg), 0);
  EXPECT_FALSE(PeekMessage(&msg, dead, 0, 0, PM_REMOVE));

  LoopbackSocket socket;
  errno = 0;
  EXPECT_EQ(WSAAsyncSelect(socket.Fd(), dead, kSocketMessage, FD_READ), -1);
  EXPECT_EQ(errno, EINVAL);
  TestWindow window;
  errno = 0;
  EXPECT_EQ(WSAAsyncSelect(-1, window.Handle(), kSocketMessage, FD_READ), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(WSAAsyncSelect(9999, window.Handle(), kSocketMessage, FD_READ), -1);
}

TEST_F(ReactorTest, QuitMessageEndsGetMessageAfterPostedMessages) {
  TestWindow window;
  PostQuitMessage(7);
  ASSERT_TRUE(PostMessage(window.Handle(), WM_USER, 0, 0));
  MSG msg;
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_USER);
  // A peek of one window never takes the thread's quit message.
  EXPECT_FALSE(PeekMessage(&msg, window.Handle(), 0, 0, PM_REMOVE));
  EXPECT_FALSE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(ReactorTest, SendMessageCallsTheProcedureAtOnce) {
  TestWindow window;
  EXPECT_EQ(SendMessage(window.Handle(), WM_USER + 5, 0, 0), 0);
  EXPECT_EQ(window.received, std::vector<UINT>{WM_USER + 5});
  MSG msg;
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(ReactorTest, ExceptionsFromAProcedureAreDroppedAndPumpingGoesOn) {
  int calls = 0;
  TestWindow window([&](UINT m, WPARAM, LPARAM) {
    ++calls;
    if (m == WM_USER) throw std::runtime_error("boom");
    if (m == WM_USER + 1) throw 42;
  });
  PostMessage(window.Handle(), WM_USER, 0, 0);
  PostMessage(window.Handle(), WM_USER + 1, 0, 0);
  PostMessage(window.Handle(), WM_USER + 2, 0, 0);
  EXPECT_NO_THROW(DrainNow());
  EXPECT_EQ(calls, 3);
}

TEST_F(ReactorTest, DeallocateInsideOwnProcedureDropsItsTimersSocketsAndMessages) {
  LoopbackSocket socket, peer;
  HWND self = nullptr;
  std::string state = "captured state that must outlive the call";
  int calls = 0;
  std::string seenAfter;
  self = AllocateHWnd([&, state](HWND hwnd, UINT, WPARAM, LPARAM) -> LRESULT {
    ++calls;
    DeallocateHWnd(hwnd);
    seenAfter = state;  // the procedure's own captures are still alive here
    return 0;
  });
  ASSERT_EQ(SetTimer(self, 1, 1), 1u);
  ASSERT_EQ(WSAAsyncSelect(socket.Fd(), self, kSocketMessage, FD_READ), 0);
  PostMessage(self, WM_USER, 0, 0);
  PostMessage(self, WM_USER, 0, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  DispatchMessage(&msg);
  EXPECT_EQ(seenAfter, state);
  EXPECT_FALSE(IsWindow(self));
  peer.SendTo(socket, "x");
  Sleep(20);
  EXPECT_EQ(DrainNow(), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(socket.ReceiveNow(), "x");
}

TEST_F(ReactorTest, TimerTicksAreCoalescedAndComeAfterPostedMessages) {
  TestWindow window;
  ASSERT_EQ(SetTimer(window.Handle(), 5, 5), 5u);
  Sleep(60);  // about a dozen intervals pass without pumping
  PostMessage(window.Handle(), WM_USER, 0, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER);
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_EQ(msg.hwnd, window.Handle());
  EXPECT_EQ(msg.wParam, 5u);
  const std::uint64_t beforeTake = GetTickCount64();
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_TIMER);
  // Only one tick may be pending: another one can only come a whole interval after the first was
  // taken (however slowly this thread runs).
  if (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    EXPECT_GE(GetTickCount64() - beforeTake, 5u) << "a second tick was pending at once";
  }

  ASSERT_TRUE(PumpUntil([&] { return window.Count(WM_TIMER) >= 3; }));
  EXPECT_TRUE(KillTimer(window.Handle(), 5));
  Sleep(20);
  EXPECT_EQ(DrainNow(), 0);
}

TEST_F(ReactorTest, SettingATimerAgainRestartsItWithTheNewInterval) {
  TestWindow window;
  SetTimer(window.Handle(), 1, 10);
  SetTimer(window.Handle(), 1, 100000);
  Sleep(40);
  EXPECT_EQ(DrainNow(), 0);
  SetTimer(window.Handle(), 1, 10);
  EXPECT_TRUE(PumpUntil([&] { return window.Count(WM_TIMER) == 1; }));
}

TEST_F(ReactorTest, TimerAndSocketNotificationFireWhileANestedLoopPumps) {
  LoopbackSocket socket, peer;
  TestWindow timerWindow;
  TestWindow socketWindow([&](UINT m, WPARAM w, LPARAM l) {
    if (m == kSocketMessage && LoWord(l) == FD_READ) {
      EXPECT_EQ(static_cast<int>(w), socket.Fd());
      socket.ReceiveNow();
    }
  });
  bool nestedDone = false;
  TestWindow outer([&](UINT m, WPARAM, LPARAM) {
    if (m != WM_USER) return;
    peer.SendTo(socket, "event");
    nestedDone = PumpUntil([&] { return timerWindow.Count(WM_TIMER) > 0 && socketWindow.Count(kSocketMessage) > 0; });
  });
  ASSERT_EQ(WSAAsyncSelect(socket.Fd(), socketWindow.Handle(), kSocketMessage, FD_READ), 0);
  SetTimer(timerWindow.Handle(), 1, 20);
  PostMessage(outer.Handle(), WM_USER, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return outer.Count(WM_USER) == 1; }));
  EXPECT_TRUE(nestedDone);
}

TEST_F(ReactorTest, PumpingOneWindowRunsNothingElseButStillNoticesSockets) {
  LoopbackSocket socketA, socketB, peer;
  TestWindow a([&](UINT m, WPARAM, LPARAM) {
    if (m == kSocketMessage) socketA.ReceiveNow();
  });
  TestWindow b([&](UINT m, WPARAM, LPARAM) {
    if (m == kSocketMessage) socketB.ReceiveNow();
  });
  ASSERT_EQ(WSAAsyncSelect(socketA.Fd(), a.Handle(), kSocketMessage, FD_READ), 0);
  ASSERT_EQ(WSAAsyncSelect(socketB.Fd(), b.Handle(), kSocketMessage, FD_READ), 0);
  PostMessage(b.Handle(), WM_USER, 0, 0);
  SetTimer(b.Handle(), 1, 1);
  peer.SendTo(socketB, "for b");
  peer.SendTo(socketA, "for a");

  ASSERT_TRUE(PumpUntil([&] { return a.Count(kSocketMessage) == 1; }, 2000, a.Handle()));
  Sleep(10);
  DrainNow(a.Handle());
  EXPECT_TRUE(b.received.empty());
  EXPECT_EQ(a.received, std::vector<UINT>{kSocketMessage});

  // B's socket was noticed during A's pump: its notification waits in the queue for B.
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, b.Handle(), kSocketMessage, kSocketMessage, PM_NOREMOVE));
  EXPECT_EQ(static_cast<int>(msg.wParam), socketB.Fd());
  EXPECT_EQ(LoWord(msg.lParam), FD_READ);
  EXPECT_TRUE(socketB.Readable());

  DrainNow();
  EXPECT_EQ(b.Count(WM_USER), 1);
  EXPECT_EQ(b.Count(kSocketMessage), 1);
  EXPECT_GE(b.Count(WM_TIMER), 1);  // its 1 ms timer may tick again while the queue drains
}

TEST_F(ReactorTest, OneNotificationPerReadinessAndAnotherAfterEachReceive) {
  LoopbackSocket socket, peer;
  std::vector<std::string> got;
  TestWindow window([&](UINT m, WPARAM, LPARAM) {
    if (m == kSocketMessage) got.push_back(socket.ReceiveNow());
  });
  ASSERT_EQ(WSAAsyncSelect(socket.Fd(), window.Handle(), kSocketMessage, FD_READ), 0);
  peer.SendTo(socket, "1");
  peer.SendTo(socket, "2");
  peer.SendTo(socket, "3");
  ASSERT_TRUE(PumpUntil([&] { return got.size() >= 3; }));
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(got, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(window.Count(kSocketMessage), 3);
}

TEST_F(ReactorTest, NotificationIsNotRepeatedWhileItWaitsInTheQueue) {
  LoopbackSocket socket, peer;
  TestWindow window;
  ASSERT_EQ(WSAAsyncSelect(socket.Fd(), window.Handle(), kSocketMessage, FD_READ), 0);
  peer.SendTo(socket, "1");
  peer.SendTo(socket, "2");
  Sleep(10);
  MSG msg;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  // Taken but nothing received: the data remains, so another notification follows.
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, kSocketMessage);
  socket.ReceiveNow();
  socket.ReceiveNow();
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(ReactorTest, CancellingASelectionDropsWaitingNotifications) {
  LoopbackSocket socket, peer;
  TestWindow window;
  ASSERT_EQ(WSAAsyncSelect(socket.Fd(), window.Handle(), kSocketMessage, FD_READ), 0);
  peer.SendTo(socket, "1");
  Sleep(10);
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
  ASSERT_EQ(WSAAsyncSelect(socket.Fd(), window.Handle(), 0, 0), 0);
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
  peer.SendTo(socket, "2");
  Sleep(10);
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(ReactorTest, ClosedAndReusedDescriptorIsNotWatchedAnyMore) {
  TestWindow window;
  LoopbackSocket peer;
  auto first = std::make_unique<LoopbackSocket>();
  const int number = first->Fd();
  ASSERT_EQ(WSAAsyncSelect(number, window.Handle(), kSocketMessage, FD_READ), 0);
  peer.SendTo(*first, "old");
  Sleep(10);
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));  // notification queued
  first.reset();                                                 // closed without cancelling
  LoopbackSocket second;                                         // likely the same number again
  peer.SendTo(second, "new");
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));  // the stale notification leaves
  Sleep(10);
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "descriptor " << number << " reused";
  EXPECT_EQ(second.ReceiveNow(), "new");
}

TEST_F(ReactorTest, SocketClosedWhileItsFileStaysOpenElsewhereDoesNotSpin) {
  TestWindow window;
  LoopbackSocket peer;
  auto socket = std::make_unique<LoopbackSocket>();
  ASSERT_EQ(WSAAsyncSelect(socket->Fd(), window.Handle(), kSocketMessage, FD_READ), 0);
  const UniqueFd elsewhere(dup(socket->Fd()));  // as a forked child would keep it
  peer.SendTo(*socket, "x");
  socket.reset();  // closed without cancelling the selection
  Sleep(10);
  EXPECT_LE(DrainNow(), 1) << "at most the one stale notification";
  EXPECT_FALSE(FdReadable(ReactorFd()));
  MSG msg;
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_FALSE(WaitMessage(20));
}

TEST_F(ReactorTest, ReactorFdIsReadableExactlyWhileSomethingIsPending) {
  const int fd = ReactorFd();
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(FdReadable(fd));

  TestWindow window;
  PostMessage(window.Handle(), WM_USER, 0, 0);
  EXPECT_TRUE(FdReadable(fd));
  DrainNow();
  EXPECT_FALSE(FdReadable(fd));

  SetTimer(window.Handle(), 1, 200);
  EXPECT_FALSE(FdReadable(fd));
  EXPECT_TRUE(FdReadable(fd, 2000));  // the timer became due
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_TRUE(FdReadable(fd)) << "a due tick that is still pending keeps it readable";
  DrainNow();
  KillTimer(window.Handle(), 1);
  EXPECT_FALSE(FdReadable(fd));

  LoopbackSocket socket, peer;
  ASSERT_EQ(WSAAsyncSelect(socket.Fd(), window.Handle(), kSocketMessage, FD_READ), 0);
  EXPECT_FALSE(FdReadable(fd));
  peer.SendTo(socket, "x");
  EXPECT_TRUE(FdReadable(fd, 2000));
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  socket.ReceiveNow();
  EXPECT_FALSE(FdReadable(fd));

  PostQuitMessage(0);
  EXPECT_TRUE(FdReadable(fd));
  DrainNow();
  EXPECT_FALSE(FdReadable(fd));
}

TEST_F(ReactorTest, WaitMessageWaitsForSomethingOrTheTimeLimit) {
  const std::uint64_t start = GetTickCount64();
  EXPECT_FALSE(WaitMessage(50));
  EXPECT_GE(GetTickCount64() - start, 50u);

  TestWindow window;
  SetTimer(window.Handle(), 1, 20);
  EXPECT_TRUE(WaitMessage(5000));
  KillTimer(window.Handle(), 1);

  PostMessage(window.Handle(), WM_USER, 0, 0);
  EXPECT_TRUE(WaitMessage(0));
}

TEST_F(ReactorTest, GetMessageFilteredToOneWindowWaitsForThatWindow) {
  TestWindow a, b;
  PostMessage(b.Handle(), WM_USER, 0, 0);
  SetTimer(b.Handle(), 1, 1);
  const std::uint64_t start = GetTickCount64();
  SetTimer(a.Handle(), 2, 50);
  MSG msg;
  ASSERT_TRUE(GetMessage(&msg, a.Handle(), 0, 0));
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_EQ(msg.hwnd, a.Handle());
  EXPECT_GE(GetTickCount64() - start, 40u);
}

TEST_F(ReactorTest, EveryThreadHasItsOwnQueue) {
  TestWindow here;
  HWND there = nullptr;
  bool foreignVisible = true;
  int ticksThere = 0;
  std::thread worker([&] {
    foreignVisible = IsWindow(here.Handle()) || PostMessage(here.Handle(), WM_USER, 0, 0);
    there = AllocateHWnd([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
      if (m == WM_TIMER) ++ticksThere;
      return 0;
    });
    SetTimer(there, 1, 5);
    PumpUntil([&] { return ticksThere >= 2; });
    DeallocateHWnd(there);
  });
  worker.join();
  EXPECT_FALSE(foreignVisible);
  EXPECT_GE(ticksThere, 2);
  EXPECT_FALSE(IsWindow(there));
  MSG msg;
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

// An object that counts its references and notes whether a window procedure of the test was
// running when one of them went.
int testProceduresRunning = 0;

class CountedObject final : public ComObject<IUnknown> {
 public:
  CountedObject() : ComObject(1) {}
  ULONG Release() override {
    ++releases;
    if (testProceduresRunning > 0) releasedInProcedure = true;
    if (onRelease) onRelease();
    return ComObject::Release();
  }
  int releases = 0;
  bool releasedInProcedure = false;
  std::function<void()> onRelease;

 private:
  void LastReleased() noexcept override {}
};

// A test window whose action counts as a running window procedure.
TestWindow::Action Procedure(std::function<void()> body) {
  return [body = std::move(body)](UINT message, WPARAM, LPARAM) {
    if (message != WM_USER) return;
    ++testProceduresRunning;
    body();
    --testProceduresRunning;
  };
}

TEST_F(ReactorTest, ReleaseLaterWaitsUntilTheOutermostProcedureHasReturned) {
  CountedObject object;
  object.AddRef();  // one reference for the dispatched message, one for the sent one
  int releasesSeenInside = -1;
  TestWindow inner(Procedure([&] {
    const int before = object.releases;
    ReleaseLater(&object);
    EXPECT_EQ(object.releases, before);
  }));
  TestWindow outer(Procedure([&] {
    PostMessage(inner.Handle(), WM_USER, 0, 0);
    EXPECT_EQ(DrainNow(inner.Handle()), 1);  // a nested pump: the inner procedure has returned
    releasesSeenInside = object.releases;
  }));

  ASSERT_TRUE(PostMessage(outer.Handle(), WM_USER, 0, 0));
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  DispatchMessage(&msg);
  EXPECT_EQ(releasesSeenInside, 0);
  EXPECT_EQ(object.releases, 1);
  EXPECT_EQ(object.RefCount(), 1u);

  SendMessage(inner.Handle(), WM_USER, 0, 0);  // a procedure called directly counts as well
  EXPECT_EQ(object.releases, 2);
  EXPECT_EQ(object.RefCount(), 0u);

  DrainNow();
  EXPECT_EQ(object.releases, 2);  // once per call
  EXPECT_FALSE(object.releasedInProcedure);
}

TEST_F(ReactorTest, ReleaseLaterOutsideAnyProcedureIsPendingUntilTheNextPeek) {
  CountedObject object;
  ReleaseLater(nullptr);
  EXPECT_FALSE(FdReadable(ReactorFd()));
  ReleaseLater(&object);
  EXPECT_EQ(object.releases, 0);
  EXPECT_TRUE(FdReadable(ReactorFd()));
  EXPECT_TRUE(WaitMessage(0));
  MSG msg;
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(object.releases, 1);
  EXPECT_EQ(object.RefCount(), 0u);
  EXPECT_FALSE(FdReadable(ReactorFd()));
}

TEST_F(ReactorTest, ReleasesStillWaitingGoWhenTheThreadEnds) {
  CountedObject first;
  CountedObject second;
  first.onRelease = [&] { ReleaseLater(&second); };  // a teardown that defers another release
  std::thread worker([&] { ReleaseLater(&first); });
  worker.join();
  EXPECT_EQ(first.releases, 1);
  EXPECT_EQ(second.releases, 1);
  EXPECT_EQ(second.RefCount(), 0u);
}

TEST(TickCountTest, IsMonotonicAndTheShortFormIsItsLowWord) {
  const std::uint64_t a = GetTickCount64();
  const DWORD shortForm = GetTickCount();
  const std::uint64_t between = GetTickCount64();
  Sleep(20);
  const std::uint64_t b = GetTickCount64();
  EXPECT_GE(b - a, 20u);
  EXPECT_LE(static_cast<DWORD>(shortForm - static_cast<DWORD>(a)), between - a);
}

}  // namespace
