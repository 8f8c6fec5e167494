// Shared helpers of the dialog tests: the application object, bounded waits, a recording
// replacement of the desktop services.
#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "dialogs/dialog_services.h"

// Creates (once) the application object the way the driver does.
void StartQt();

// Processes Qt events until the condition holds or the time runs out; answers the condition.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// Whether the hourglass cursor shows now.
bool HourglassShown();

// Runs `action` on the first active modal widget other than `except` that shows within the
// limit, from inside its loop. The watch ends by itself; StopWatching ends it earlier.
QPointer<QTimer> WhenModalOpens(std::function<void(QWidget*)> action, const QWidget* except = nullptr,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

void StopWatching(QPointer<QTimer>& watch);

// Records what the dialogs ask of the desktop instead of showing or opening anything.
struct TRecordingServices : TUiServices {
  struct Box {
    QString Text;
    QMessageBox::Icon Icon;
  };
  std::vector<Box> Boxes;
  std::vector<QString> WebAddresses;
  std::vector<bool> HourglassAtOpen;  // per opened address: whether the hourglass showed meanwhile
  std::vector<QString> HelpFiles;
  std::vector<std::pair<QString, THHPopup>> Popups;

  void MessageBox(QWidget*, const QString& text, QMessageBox::Icon icon) override {
    Boxes.push_back({text, icon});
  }
  void OpenWebAddress(const QString& address) override {
    WebAddresses.push_back(address);
    HourglassAtOpen.push_back(HourglassShown());
  }
  void OpenHelpFile(const QString& file) override { HelpFiles.push_back(file); }
  void ShowTextPopup(const QString& topicFile, const THHPopup& popup) override {
    Popups.emplace_back(topicFile, popup);
  }
};

// Installs a TRecordingServices for the life of the object and puts the previous ones back.
class TServicesScope {
 public:
  TServicesScope();
  ~TServicesScope();
  TRecordingServices& operator*() { return *FRecorder; }
  TRecordingServices* operator->() { return FRecorder; }

 private:
  TRecordingServices* FRecorder;  // owned by the services slot while installed
  std::unique_ptr<TUiServices> FPrevious;
};

// Saves the widget as a PNG in the test build folder (for reviewers); answers the file name.
QString SaveScreenshot(QWidget& widget, const QString& name);
