#include "dialogs/control_utils.h"

#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QWidget>

void SetChildControlsEnabled(QWidget* parent, bool enabled) {
  if (parent == nullptr) return;
  const auto children = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) child->setEnabled(enabled);
}

namespace {

class TCloseKeyFilter : public QObject {
 public:
  explicit TCloseKeyFilter(QDialog* dialog) : QObject(dialog) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != parent() || event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Escape && key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    event->accept();
    return true;
  }
};

}  // namespace

void KeepOpenOnEnterAndEsc(QDialog* dialog) {
  if (dialog != nullptr) dialog->installEventFilter(new TCloseKeyFilter(dialog));  // owned by the dialog
}

void FocusFirstControl(QWidget* form) {
  if (form == nullptr) return;
  for (QWidget* control = form->nextInFocusChain(); control != form; control = control->nextInFocusChain()) {
    if ((control->focusPolicy() & Qt::TabFocus) != 0 && control->isEnabled() && control->isVisibleTo(form)) {
      control->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}

void SetNumericEdit(QLineEdit* edit) {
  if (edit == nullptr) return;
  // The validator, not maxLength, limits the length: setText must not cut a longer stored value.
  static const QRegularExpression digits(QStringLiteral("[0-9]{0,2}"));
  edit->setValidator(new QRegularExpressionValidator(digits, edit));
}

#include <QApplication>

#include "dialogs/dialog_services.h"
#include "dialogs/dialog_strings.h"

TWaitCursor::TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

TWaitCursor::~TWaitCursor() { QApplication::restoreOverrideCursor(); }

QString ErrorMessage(const std::exception& error) { return QString::fromUtf8(error.what()); }

bool RunHandler(QWidget* parent, const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (const std::exception& error) {
    UiServices().MessageBox(parent, ErrorMessage(error), QMessageBox::Critical);
  } catch (...) {
    UiServices().MessageBox(parent, QText(dialog_strings::SUnknownError), QMessageBox::Critical);
  }
  return false;
}
