#include "dialogs/qt_runtime.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTranslator>
#include <cstdlib>
#include <string>

#include "dialogs/dialog_strings.h"
#include "driver/morvik_common.h"
#include "platform/exceptions.h"
#include "platform/reactor.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

bool& Started() {
  static bool started = false;
  return started;
}

void LoadTranslations(QCoreApplication& app) {
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  for (const char* name : {"qtbase_ru", "qt_ru"}) {
    auto translator = std::make_unique<QTranslator>(&app);
    if (translator->load(QLatin1String(name), folder)) {
      QCoreApplication::installTranslator(translator.release());  // owned by the application
      return;
    }
  }
}

QApplication* CreateApplication() {
  // QApplication keeps references to argc and argv for its whole life.
  static int argc = 1;
  static char name[] = "tavoeq";
  static char* argv[] = {name, nullptr};
  // Deliberately never destroyed (see the header); reachable through qApp.
  auto app = std::make_unique<QApplication>(argc, argv);
  LoadTranslations(*app);
  return app.release();
}

// Qt's pending events from inside the driver's pump-everything waits (ProcessMessages, Delay), so
// that windows repaint and Qt's timers and notifiers keep running while the driver waits. Only on
// the application's thread, and not again from inside itself (what it processes may wait and pump
// in turn). The user's input waits in Qt's queue until the driver's operation has returned: a click
// must not start another operation in the middle of this one.
void ProcessQtEvents() {
  const QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || app->thread() != QThread::currentThread()) return;
  static bool inside = false;  // the application's thread only
  if (inside) return;
  inside = true;
  struct TLeave {
    ~TLeave() { inside = false; }
  } leave;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

void EnsureQtApplication() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    if (QCoreApplication::instance() != nullptr)
      throw Exception(std::string(dialog_strings::SNoWidgetApplication));
    if (!HasDisplay()) throw Exception(std::string(dialog_strings::SNoDisplay));
    CreateApplication();
  }
  Started() = true;
  // Qt's widgets live on the application's thread only; anywhere else Qt would abort the process.
  if (QCoreApplication::instance()->thread() != QThread::currentThread())
    throw Exception(std::string(dialog_strings::SWrongThread));
  TReactorBridge::ForThisThread();
  static const bool pumpRegistered = (SetExtraMessagePump(&ProcessQtEvents), true);
  static_cast<void>(pumpRegistered);
}

bool QtApplicationStarted() { return Started(); }

TReactorBridge::TReactorBridge(QObject* parent)
    : QObject(parent), FNotifier(new QSocketNotifier(ReactorFd(), QSocketNotifier::Read, this)) {
  connect(FNotifier, &QSocketNotifier::activated, this, [] { PumpMessages(); });
}

TReactorBridge& TReactorBridge::ForThisThread() {
  thread_local QPointer<TReactorBridge> bridge;
  if (bridge.isNull()) bridge = new TReactorBridge(QCoreApplication::instance());
  return *bridge;
}

void TReactorBridge::PumpMessages() {
  MSG msg{};
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    try {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    } catch (...) {
      // A handler's error must never cross Qt's event loop; the message counts as handled.
    }
  }
}
