#include "dialogs/control_utils.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QWidget>

void SetChildControlsEnabled(QWidget* parent, bool enabled) {
  if (parent == nullptr) return;
  const auto children = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) child->setEnabled(enabled);
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
