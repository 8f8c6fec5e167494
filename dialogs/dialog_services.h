// What the dialogs ask of the desktop: message boxes, opening the web address, the help viewer and
// the help text pop-ups. One replaceable object, so tests never block on a modal box.
#pragma once

#include <QMessageBox>
#include <QString>
#include <memory>

#include "dialogs/help.h"

class QWidget;

class TUiServices {
 public:
  virtual ~TUiServices() = default;
  // A modal box with the text, the icon and one OK button.
  virtual void MessageBox(QWidget* parent, const QString& text, QMessageBox::Icon icon) = 0;
  // Opens the address in the desktop's browser; failures are not reported.
  virtual void OpenWebAddress(const QString& address) = 0;
  // Opens the help file at its default topic in the desktop's viewer for it.
  virtual void OpenHelpFile(const QString& file) = 0;
  // A text pop-up. topicFile is empty (the record carries the text) or the help file followed by
  // "::/popups.txt" (the record's idString names the topic).
  virtual void ShowTextPopup(const QString& topicFile, const THHPopup& popup) = 0;
};

// The desktop's own services (Qt message boxes, the desktop's URL handler, THelpPopup).
std::unique_ptr<TUiServices> MakeDesktopUiServices();

// The services in use: the desktop's unless replaced.
TUiServices& UiServices();
// Replaces the services (nullptr: the desktop's again) and answers the previous ones.
std::unique_ptr<TUiServices> SetUiServices(std::unique_ptr<TUiServices> services);
