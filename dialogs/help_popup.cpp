#include "dialogs/help_popup.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

THelpPopup::THelpPopup(const THHPopup& popup)
    : QLabel(nullptr, Qt::Popup | Qt::FramelessWindowHint), FRecord(popup) {
  setObjectName(QStringLiteral("HelpPopup"));
  setText(popup.pszText);
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
  setContentsMargins(popup.rcMargins);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, popup.clrBackground);
  colours.setColor(QPalette::WindowText, popup.clrForeground);
  setPalette(colours);
  setAutoFillBackground(true);
}

void THelpPopup::Popup() {
  adjustSize();
  QPoint at = FRecord.pt;
  if (const QScreen* screen = QGuiApplication::screenAt(at)) {
    const QRect area = screen->availableGeometry();
    at.setX(qMax(area.left(), qMin(at.x(), area.right() - width())));
    at.setY(qMax(area.top(), qMin(at.y(), area.bottom() - height())));
  }
  move(at);
  show();
}
