#include "dialogs/settings_dialog_provider.h"

#include <QApplication>
#include <array>
#include <memory>

#include "dialogs/common_settings.h"
#include "dialogs/dialog_services.h"
#include "dialogs/dialog_strings.h"
#include "dialogs/main_settings.h"
#include "dialogs/qt_runtime.h"
#include "driver/driver.h"
#include "driver/settings_dialog.h"
#include "driver/ui_services.h"

namespace {

class TQtSettingsDialogs : public ISettingsDialogs {
 public:
  bool ShowSettingsDialog(TDriver& Driver) override {
    EnsureQtApplication();
    const std::array<TfrmBaseSettingsClass, 1> pages = {&PageClass<TfrmMainSettings>};
    TfrmCommonSettings dialog(&Driver, pages);
    return dialog.exec() == QDialog::Accepted;
  }
};

class TQtMessageBoxes : public IMessageBoxes {
 public:
  void ShowMessage(std::string_view Text, TMessageBoxIcon Icon) override {
    EnsureQtApplication();
    UiServices().MessageBox(QApplication::activeModalWidget(), QText(Text), BoxIcon(Icon));
  }

 private:
  static QMessageBox::Icon BoxIcon(TMessageBoxIcon icon) {
    switch (icon) {
      case TMessageBoxIcon::Information: return QMessageBox::Information;
      case TMessageBoxIcon::Warning: return QMessageBox::Warning;
      case TMessageBoxIcon::Error: return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
  }
};

}  // namespace

void RegisterQtSettingsDialogs() {
  SetSettingsDialogs(std::make_unique<TQtSettingsDialogs>());
  SetMessageBoxes(std::make_unique<TQtMessageBoxes>());
}
