// Qt inside the driver library: the application object is made on first need on the calling thread,
// and the thread's driver messages (socket notifications, timers, posted messages) keep flowing
// while any Qt event loop (a modal dialog or message box) runs on it; the other way round, Qt's
// events keep flowing while the driver waits and pumps.
#pragma once

#include <QObject>

#include "dialogs/settings_dialog_provider.h"  // QtApplicationStarted

class QSocketNotifier;

// Makes sure a QApplication exists (creating one on the calling thread when there is none, with
// Qt's Russian translation loaded), that the calling thread's messages are pumped from Qt's loop
// and that the driver's pump-everything waits (ProcessMessages, Delay) process Qt's events too.
// Raises Exception with a clear message when there is no display to show windows on (no DISPLAY,
// no WAYLAND_DISPLAY and no QT_QPA_PLATFORM, no server answering on the display named, or no Qt
// plugin for the platform that loads), and when the application object lives on another thread
// (Qt's windows work on that thread only).
// The application object this creates is never destroyed: Qt must not be unloaded under a running
// program.
void EnsureQtApplication();

// Watches the reactor's descriptor of the thread that made it and dispatches every waiting message
// of that thread whenever the descriptor turns readable. One per thread, owned by the application
// object.
class TReactorBridge : public QObject {
 public:
  explicit TReactorBridge(QObject* parent);
  // The bridge of the calling thread, made on first use.
  static TReactorBridge& ForThisThread();
  // Dispatches every message waiting for the thread; errors raised by a handler are dropped.
  static void PumpMessages();

 private:
  QSocketNotifier* FNotifier;  // owned as a child
};
