#include "tests/dialogs/qt_test_support.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include "dialogs/qt_runtime.h"

void StartQt() { EnsureQtApplication(); }

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() >= limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

bool HourglassShown() {
  const QCursor* cursor = QApplication::overrideCursor();
  return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

QPointer<QTimer> WhenModalOpens(std::function<void(QWidget*)> action, const QWidget* except,
                    std::chrono::milliseconds limit) {
  auto* timer = new QTimer(QCoreApplication::instance());  // owned by the application
  timer->setInterval(10);
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  QObject::connect(timer, &QTimer::timeout, timer,
                   [timer, action = std::move(action), except, started, limit] {
    QWidget* modal = QApplication::activeModalWidget();
    const bool found = modal != nullptr && modal != except && modal->isVisible();
    if (found || started->elapsed() >= limit.count()) {
      timer->stop();
      timer->deleteLater();
    }
    if (found) action(modal);
  });
  timer->start();
  return timer;
}

void StopWatching(QPointer<QTimer>& watch) {
  if (watch.isNull()) return;
  watch->stop();
  watch->deleteLater();
}

TServicesScope::TServicesScope() {
  auto recorder = std::make_unique<TRecordingServices>();
  FRecorder = recorder.get();
  FPrevious = SetUiServices(std::move(recorder));
}

TServicesScope::~TServicesScope() { SetUiServices(std::move(FPrevious)); }

QString SaveScreenshot(QWidget& widget, const QString& name) {
  const QString folder = QStringLiteral(TAVO_TEST_OUTPUT_DIR "/screenshots");
  QDir().mkpath(folder);
  const QString file = folder + QLatin1Char('/') + name + QStringLiteral(".png");
  widget.grab().save(file);
  return file;
}

// The leak checker of sanitizer builds: the system's font configuration library keeps some
// allocations for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
