// Small helpers on widgets that several forms use.
#pragma once

class QDialog;
class QWidget;
class QLineEdit;

// Sets the enabled state of every direct child widget of parent, first to last; grandchildren keep
// their own state (they still follow a disabled parent on screen).
void SetChildControlsEnabled(QWidget* parent, bool enabled);

// Keeps Enter and Esc from closing a dialog that has neither a default nor a cancel button: the
// keys that no control took end at the dialog.
void KeepOpenOnEnterAndEsc(QDialog* dialog);

// Gives the focus to the first control of the form's tab order that takes it from the keyboard.
void FocusFirstControl(QWidget* form);

// Makes the edit accept digits only, typed or pasted, and at most two of them (0 to 99). Text put
// in by the program is not cut: a stored value of three digits is shown as it is.
void SetNumericEdit(QLineEdit* edit);

#include <QString>
#include <exception>
#include <functional>

// The hourglass cursor for the life of the object.
class TWaitCursor {
 public:
  TWaitCursor();
  ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// The message of an error, as UTF-8 text for a message box.
QString ErrorMessage(const std::exception& error);

// Runs a handler of a user action. An error it raises never reaches Qt's event loop: it is shown
// in an error box over parent, the way the platform reports an error of an event handler.
// Answers whether the handler ended normally.
bool RunHandler(QWidget* parent, const std::function<void()>& handler);
