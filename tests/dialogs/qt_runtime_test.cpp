// Qt inside the driver: lazy application object, refusal without a display that answers, and the thread's
// driver messages flowing while Qt's loops (modal ones included) run.
#include "dialogs/qt_runtime.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

#include "driver/morvik_common.h"
#include "platform/exceptions.h"
#include "platform/reactor.h"
#include "tests/dialogs/qt_test_support.h"

namespace {

// Whether the pre-connected Wayland socket that the child was given (if any) is still named by
// WAYLAND_SOCKET and open, as Qt's Wayland plugin needs it.
bool WaylandSocketLeft(const std::string& given) {
  const char* now = std::getenv("WAYLAND_SOCKET");
  return given.empty() || (now != nullptr && now == given && fcntl(std::stoi(given), F_GETFD) != -1);
}

// Runs EnsureQtApplication in a child process whose display and plugin path variables are only
// those given; answers "refused" (the clear error, naming the platforms of QT_QPA_PLATFORM when it
// is set), "refused after loading the stub" (the same, once the stub plugin had been loaded),
// "started", "socket taken" (a pre-connected Wayland socket was used up before Qt could have it),
// or how the child ended otherwise.
std::string StartQtInChild(std::initializer_list<std::pair<const char*, std::string>> variables) {
  const pid_t child = fork();
  if (child == 0) {
    alarm(20);  // bound
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM", "QT_PLUGIN_PATH",
                             "QT_QPA_PLATFORM_PLUGIN_PATH", "TAVO_STUB_PLUGIN_LOADED"})
      unsetenv(name);
    for (const auto& [name, value] : variables) setenv(name, value.c_str(), 1);
    const char* socket = std::getenv("WAYLAND_SOCKET");
    const std::string givenSocket = socket == nullptr ? "" : socket;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string named = platform == nullptr ? "DISPLAY" : platform;
    try {
      EnsureQtApplication();
      if (!WaylandSocketLeft(givenSocket)) _exit(4);
      _exit(QCoreApplication::instance() != nullptr && QtApplicationStarted() ? 0 : 1);
    } catch (const Exception& e) {
      if (!WaylandSocketLeft(givenSocket)) _exit(4);
      const bool clear = std::string(e.what()).find(named) != std::string::npos;
      if (!clear || QCoreApplication::instance() != nullptr || QtApplicationStarted()) _exit(3);
      _exit(std::getenv("TAVO_STUB_PLUGIN_LOADED") == nullptr ? 2 : 5);
    }
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return "no child";
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  switch (WEXITSTATUS(status)) {
    case 0: return "started";
    case 2: return "refused";
    case 4: return "socket taken";
    case 5: return "refused after loading the stub";
    default: return "exit " + std::to_string(WEXITSTATUS(status));
  }
}

// A display number from `first` on with no X server behind it: no socket or lock file in the machine's
// folders, and (the test runs in a private network namespace) no abstract socket or TCP port either.
// The dead displays are taken from 99 on, the test's own server from 500 on, so that tests running
// side by side never take one for the other.
std::string DeadDisplay(int first = 99) {
  int number = first;
  const auto taken = [](int n) {
    return access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) == 0 ||
           access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0;
  };
  while (number < 999 && taken(number)) ++number;
  return ":" + std::to_string(number);
}

// A folder with a copy of a stub platform plugin at `place` inside it.
struct TPluginFolder {
  QTemporaryDir Dir;
  TPluginFolder(const char* stub, const QString& place) {
    QDir(Dir.path()).mkpath(QFileInfo(place).path());
    EXPECT_TRUE(QFile::copy(QString::fromUtf8(stub), Dir.filePath(place)));
  }
  std::string Path() const { return Dir.path().toStdString(); }
};

TEST(QtApplication, IsRefusedWithAClearErrorWhenNoDisplayAnswers) {
  if (QCoreApplication::instance() != nullptr) GTEST_SKIP() << "Qt already runs in this process";
  EXPECT_EQ(StartQtInChild({}), "refused");
  // No X server behind DISPLAY (a stale session): Qt would end the process.
  const std::string dead = DeadDisplay();
  const std::string deadOverTcp = "127.0.0.1" + dead;
  EXPECT_EQ(StartQtInChild({{"DISPLAY", dead}}), "refused");
  EXPECT_EQ(StartQtInChild({{"DISPLAY", deadOverTcp}}), "refused");
  EXPECT_EQ(StartQtInChild({{"QT_QPA_PLATFORM", "XCB"}}), "refused");
  EXPECT_EQ(StartQtInChild({{"WAYLAND_DISPLAY", "/nonexistent/wayland-0"}}), "refused");
  EXPECT_EQ(StartQtInChild({{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", "/nonexistent/wayland-0"}}),
            "refused");
  // A platform that no plugin answers to where Qt looks for one (a misspelt name): Qt would end the
  // process as well.
  EXPECT_EQ(StartQtInChild({{"QT_QPA_PLATFORM", "ofscreen"}}), "refused");
  // Of a list, only the platforms that answer are tried; names are matched without regard to case, as
  // Qt matches them.
  EXPECT_EQ(StartQtInChild({{"QT_QPA_PLATFORM", "xcb;OffScreen"}, {"DISPLAY", dead}}), "started");

  // Plugins that Qt finds but cannot start (one that is no platform plugin, one whose library is not
  // there at run time): Qt would end the process. They answer to "StubPlatform", and are found in the
  // folder of QT_QPA_PLATFORM_PLUGIN_PATH itself and in the "platforms" folder of QT_PLUGIN_PATH.
  const TPluginFolder own(TAVO_TEST_STUB_PLUGIN, "libstub.so");
  const TPluginFolder broken(TAVO_TEST_BROKEN_STUB_PLUGIN, "platforms/libstub.so");
  EXPECT_EQ(StartQtInChild({{"QT_QPA_PLATFORM", "stubplatform"}, {"QT_QPA_PLATFORM_PLUGIN_PATH", own.Path()}}),
            "refused after loading the stub");
  EXPECT_EQ(StartQtInChild({{"QT_QPA_PLATFORM", "stubplatform"}, {"QT_PLUGIN_PATH", broken.Path()}}), "refused");
  EXPECT_EQ(StartQtInChild({{"QT_QPA_PLATFORM", "StubPlatform;offscreen"}, {"QT_PLUGIN_PATH", broken.Path()}}),
            "started");

  // A client started on a pre-connected Wayland socket, with the stub as the only plugin that answers
  // to "wayland": the socket counts and is left to Qt untouched (so the plugin is tried); a descriptor
  // that is no socket does not count.
  const QDir systemPlatforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
  if (!systemPlatforms.entryList({"*wayland*"}, QDir::Files).isEmpty())
    GTEST_SKIP() << "Qt's Wayland plugin is installed";
  int pair[2];
  int pipeEnds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  ASSERT_EQ(pipe(pipeEnds), 0);
  const std::string socket = std::to_string(pair[0]);
  EXPECT_EQ(StartQtInChild({{"QT_QPA_PLATFORM", "wayland"},
                            {"WAYLAND_SOCKET", socket},
                            {"QT_QPA_PLATFORM_PLUGIN_PATH", own.Path()}}),
            "refused after loading the stub");
  EXPECT_EQ(StartQtInChild({{"QT_QPA_PLATFORM", "wayland"},
                            {"WAYLAND_SOCKET", std::to_string(pipeEnds[0])},
                            {"QT_QPA_PLATFORM_PLUGIN_PATH", own.Path()}}),
            "refused");
  EXPECT_EQ(StartQtInChild({{"QT_QPA_PLATFORM", "wayland;offscreen"}, {"WAYLAND_SOCKET", socket}}), "started");
  for (int fd : {pair[0], pair[1], pipeEnds[0], pipeEnds[1]}) close(fd);
}

// An X server resets itself when its last client leaves; Xvfb -terminate ends instead. The check's own
// connection must not leave it so before Qt has connected, or Qt would end the process.
TEST(QtApplication, StartsOnAnXServerThatResetsWhenItsLastClientLeaves) {
  if (QCoreApplication::instance() != nullptr) GTEST_SKIP() << "Qt already runs in this process";
  const std::string display = DeadDisplay(500);
  const pid_t server = fork();
  if (server == 0) {
    execlp("Xvfb", "Xvfb", display.c_str(), "-nolisten", "tcp", "-terminate", nullptr);
    _exit(127);
  }
  ASSERT_GT(server, 0);
  const std::string socket = "/tmp/.X11-unix/X" + display.substr(1);
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 200 && access(socket.c_str(), F_OK) != 0 && !ended; ++i) {
    ended = waitpid(server, &status, WNOHANG) == server;
    usleep(25'000);
  }
  if (ended) GTEST_SKIP() << (WIFEXITED(status) && WEXITSTATUS(status) == 127 ? "no Xvfb here" : "Xvfb ended");
  EXPECT_EQ(StartQtInChild({{"DISPLAY", display}}), "started");
  kill(server, SIGTERM);
  waitpid(server, &status, 0);
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
