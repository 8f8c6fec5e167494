// Qt inside the driver: lazy application object, refusal without a display, and the thread's
// driver messages flowing while Qt's loops (modal ones included) run.
#include "dialogs/qt_runtime.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "driver/morvik_common.h"
#include "platform/exceptions.h"
#include "platform/reactor.h"
#include "tests/dialogs/qt_test_support.h"

namespace {

// Sets or removes environment variables for the life of the object.
class TEnvironment {
 public:
  void Unset(const char* name) {
    const char* value = std::getenv(name);
    FSaved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    unsetenv(name);
  }
  ~TEnvironment() {
    for (const auto& [name, value] : FSaved)
      value ? static_cast<void>(setenv(name.c_str(), value->c_str(), 1)) : static_cast<void>(unsetenv(name.c_str()));
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

TEST(QtApplication, IsRefusedWithAClearErrorWithoutADisplay) {
  if (QCoreApplication::instance() != nullptr) GTEST_SKIP() << "Qt already runs in this process";
  TEnvironment environment;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.Unset(name);
  try {
    EnsureQtApplication();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("DISPLAY"), std::string::npos) << e.what();
  }
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
  EXPECT_FALSE(QtApplicationStarted());
}

TEST(QtApplication, IsCreatedOnceOnTheCallingThread) {
  EnsureQtApplication();
  QCoreApplication* first = QCoreApplication::instance();
  ASSERT_NE(qobject_cast<QApplication*>(first), nullptr);
  EnsureQtApplication();
  EXPECT_EQ(QCoreApplication::instance(), first);
  EXPECT_TRUE(QtApplicationStarted());
  EXPECT_EQ(&TReactorBridge::ForThisThread(), &TReactorBridge::ForThisThread());
  // Qt's own Russian texts for the standard buttons of message boxes.
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString::fromUtf8("Отмена"));
}

TEST(QtApplication, IsRefusedOnAThreadOtherThanItsOwn) {
  EnsureQtApplication();
  std::string error;
  std::thread other([&error] {
    try {
      EnsureQtApplication();
    } catch (const Exception& e) {
      error = e.what();
    }
  });
  other.join();
  EXPECT_FALSE(error.empty()) << "a dialog on that thread would abort the process";
}

// A hidden window that counts what reaches it.
struct TProbeWindow {
  int Posted = 0;
  int Ticks = 0;
  std::string Datagram;
  std::function<void()> OnDatagram;
  HWND Wnd = AllocateHWnd([this](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
    if (message == WM_USER + 5) ++Posted;
    if (message == WM_USER + 6) throw Exception("handler failure");
    if (message == WM_TIMER) ++Ticks;
    if (message == WM_USER + 1) {
      char buffer[256];
      const ssize_t n = recv(static_cast<int>(wParam), buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) Datagram.assign(buffer, static_cast<std::size_t>(n));
      if (OnDatagram) OnDatagram();
    }
    return 0;
  });
  ~TProbeWindow() { DeallocateHWnd(Wnd); }
};

class ReactorBridge : public ::testing::Test {
 protected:
  void SetUp() override { StartQt(); }
};

TEST_F(ReactorBridge, PostedMessagesAndTimersRunFromQtsLoop) {
  TProbeWindow probe;
  ASSERT_TRUE(PostMessage(probe.Wnd, WM_USER + 6, 0, 0));  // a failing handler stops nothing
  ASSERT_TRUE(PostMessage(probe.Wnd, WM_USER + 5, 0, 0));
  ASSERT_TRUE(PostMessage(probe.Wnd, WM_USER + 5, 0, 0));
  SetTimer(probe.Wnd, 1, 5);
  EXPECT_TRUE(WaitFor([&] { return probe.Posted == 2 && probe.Ticks >= 2; }));
  KillTimer(probe.Wnd, 1);
}

// A UDP socket on loopback with an ephemeral port.
struct TUdpSocket {
  int Fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in Address{};
  TUdpSocket() {
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address);
    socklen_t length = sizeof Address;
    getsockname(Fd, reinterpret_cast<sockaddr*>(&Address), &length);
  }
  ~TUdpSocket() { close(Fd); }
};

TEST_F(ReactorBridge, DatagramIsHandledWhileAModalDialogRuns) {
  TProbeWindow probe;
  TUdpSocket receiver;
  TUdpSocket sender;
  ASSERT_EQ(WSAAsyncSelect(receiver.Fd, probe.Wnd, WM_USER + 1, FD_READ), 0);
  QDialog dialog;
  probe.OnDatagram = [&dialog] { dialog.done(QDialog::Accepted); };
  QTimer::singleShot(20, [&] {
    const char payload[] = "event";
    sendto(sender.Fd, payload, sizeof payload - 1, 0, reinterpret_cast<sockaddr*>(&receiver.Address),
           sizeof receiver.Address);
  });
  QTimer::singleShot(5000, &dialog, [&dialog] { dialog.done(QDialog::Rejected); });  // bound
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  EXPECT_EQ(probe.Datagram, "event");
  WSAAsyncSelect(receiver.Fd, probe.Wnd, 0, 0);
}

TEST_F(ReactorBridge, QtTimersRunWhileTheDriverWaitsInsideADialog) {
  QDialog dialog;
  bool ticked = false;
  bool tickedDuringDelay = false;
  QTimer::singleShot(0, &dialog, [&] {
    // A handler of the dialog's loop that waits in the driver: Qt's loop does not run meanwhile.
    QTimer tick;
    tick.setSingleShot(true);
    QObject::connect(&tick, &QTimer::timeout, [&ticked] { ticked = true; });
    tick.start(5);
    for (int i = 0; i < 500 && !ticked; ++i) Delay(10);
    tickedDuringDelay = ticked;
    dialog.done(QDialog::Accepted);
  });
  QTimer::singleShot(10000, &dialog, [&dialog] { dialog.done(QDialog::Rejected); });  // bound
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  EXPECT_TRUE(tickedDuringDelay);
}

}  // namespace
