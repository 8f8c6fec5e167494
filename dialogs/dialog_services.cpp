#include "dialogs/dialog_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QRegularExpression>
#include <QUrl>

#include "dialogs/help_popup.h"

namespace {

// Puts the text into the box. Lines of tab-separated columns (the device test's list of controllers)
// become the rows of a table: one line a row, columns aligned, a row never wrapped.
void SetBoxText(QMessageBox& box, const QString& text) {
  if (!text.contains(QLatin1Char('\t'))) {
    box.setText(text);
    return;
  }
  QString rows;
  static const QRegularExpression lineEnd(QStringLiteral("\r?\n"));
  for (const QString& line : text.split(lineEnd, Qt::SkipEmptyParts)) {
    rows += QLatin1String("<tr>");
    for (const QString& cell : line.split(QLatin1Char('\t'))) {
      rows += QLatin1String("<td nowrap style=\"padding-right: 12px\">") + cell.toHtmlEscaped() +
              QLatin1String("</td>");
    }
    rows += QLatin1String("</tr>");
  }
  box.setTextFormat(Qt::RichText);
  box.setText(QLatin1String("<table cellspacing=\"0\" cellpadding=\"0\">") + rows +
              QLatin1String("</table>"));
}

class TDesktopUiServices : public TUiServices {
 public:
  ~TDesktopUiServices() override {
    // At process exit the application object may be gone already: a widget must not be
    // destroyed without it, so the last pop-up is then left to the process's end.
    if (QCoreApplication::instance() == nullptr) static_cast<void>(FPopup.release());
  }

  void MessageBox(QWidget* parent, const QString& text, QMessageBox::Icon icon) override {
    QMessageBox box(icon, QString(), QString(), QMessageBox::Ok, parent);
    SetBoxText(box, text);
    box.exec();
  }

  void OpenWebAddress(const QString& address) override {
    QDesktopServices::openUrl(QUrl::fromUserInput(address));
  }

  void OpenHelpFile(const QString& file) override {
    QDesktopServices::openUrl(QUrl::fromLocalFile(file));
  }

  void ShowTextPopup(const QString& topicFile, const THHPopup& popup) override {
    THHPopup shown = popup;
    if (!topicFile.isEmpty() && popup.idString > 0) {
      const QString helpFile = topicFile.left(topicFile.indexOf(QLatin1String(kPopupsSuffix)));
      shown.pszText = ReadPopupTopic(helpFile, popup.idString).value_or(QString());
    }
    FPopup = std::make_unique<THelpPopup>(shown);
    FPopup->Popup();
  }

 private:
  std::unique_ptr<THelpPopup> FPopup;  // one pop-up at a time; a new one replaces it
};

std::unique_ptr<TUiServices>& Current() {
  static std::unique_ptr<TUiServices> services;
  return services;
}

}  // namespace

std::unique_ptr<TUiServices> MakeDesktopUiServices() { return std::make_unique<TDesktopUiServices>(); }

TUiServices& UiServices() {
  auto& services = Current();
  if (!services) services = MakeDesktopUiServices();
  return *services;
}

std::unique_ptr<TUiServices> SetUiServices(std::unique_ptr<TUiServices> services) {
  auto previous = std::move(Current());
  Current() = std::move(services);
  return previous;
}
