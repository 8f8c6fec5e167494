// Renders every dialog and page of the driver (offscreen) into PNG files in the test build folder,
// for review, and checks in the pictures what a person would see: the header's colour, texts
// shown whole, the device test's box with one line per controller.
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <gtest/gtest.h>

#include <array>

#include "dialogs/common_settings.h"
#include "dialogs/controller_params.h"
#include "dialogs/main_settings.h"
#include "dialogs/settings_list.h"
#include "driver/controllers.h"
#include "driver/driver.h"
#include "tests/dialogs/qt_test_support.h"
#include "ui_common_settings.h"

namespace {

// Whether the label's text fits into the label, wrapped as the label wraps it, and the label into
// its parent.
bool ShowsWhole(const QLabel& label) {
  const int flags = label.wordWrap() ? Qt::TextWordWrap : 0;
  const QRect needed = label.fontMetrics().boundingRect(QRect(0, 0, label.width(), 10000), flags, label.text());
  return needed.width() <= label.width() && needed.height() <= label.height() &&
         label.parentWidget()->rect().contains(label.geometry());
}

TEST(Screenshots, EveryDialogIsRenderedWithItsHeaderAndTextsWhole) {
  StartQt();
  TServicesScope services;
  auto driver = CreateComObject<TDriver>();
  TControllers list;
  list.AddNew("192.168.0.10")->Name = "Главный вход";
  list.AddNew("192.168.0.11")->Name = "Склад";
  driver->SetSettingValue("ControllersList", OleVariant(list.SaveToXML()));

  const std::array<TfrmBaseSettingsClass, 1> pages = {&PageClass<TfrmMainSettings>};
  TfrmCommonSettings dialog(driver.Get(), pages);
  dialog.show();
  auto& form = dialog.Form();
  SaveScreenshot(dialog, "common_settings_controllers");
  const QImage picture = dialog.grab().toImage();
  EXPECT_EQ(picture.pixelColor(form.pnHeader->width() - 2, 2), QColor(255, 198, 0));
  EXPECT_GE(form.pnHeader->height(), 36);
  EXPECT_EQ(form.lbModelName->text().toStdString(), driver->DeviceInfo().DriverName);
  EXPECT_TRUE(ShowsWhole(*form.lbModelName));
  EXPECT_TRUE(ShowsWhole(*form.lbDiverVersion));
  form.pcPages->setCurrentWidget(form.tsInfo);
  SaveScreenshot(dialog, "common_settings_info");
  for (QLabel* label : form.tsInfo->findChildren<QLabel*>()) EXPECT_TRUE(ShowsWhole(*label)) << label->objectName().toStdString();
  SaveScreenshot(*dialog.Pages()[0], "main_settings_page");

  TfrmSettingsList grid(driver.Get());
  grid.show();
  SaveScreenshot(grid, "settings_list");

  TfrmControllerParams params(driver.Get(), list.GetItem(0));
  params.show();
  SaveScreenshot(params, "controller_params");
  for (QLabel* label : params.findChildren<QLabel*>()) EXPECT_TRUE(ShowsWhole(*label)) << label->objectName().toStdString();

  // The device test's box, as the desktop shows it: one line per controller.
  const std::string table = "0\tГлавный вход\t192.168.0.10\tВкл.\r\n1\tСклад\t192.168.0.11\tВыкл.\r\n";
  int lines = 0;
  QPointer<QTimer> watch = WhenModalOpens([&lines](QWidget* modal) {
    SaveScreenshot(*modal, "device_test");
    const auto* label = modal->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (label != nullptr) lines = label->height() / label->fontMetrics().lineSpacing();
    static_cast<QDialog*>(modal)->accept();
  });
  MakeDesktopUiServices()->MessageBox(&dialog, QString::fromStdString(table), QMessageBox::Information);
  StopWatching(watch);
  EXPECT_EQ(lines, 2);
}

}  // namespace
