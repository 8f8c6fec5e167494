// Renders every dialog and page (offscreen) into PNG files in the test build folder, for review.
#include <QFile>
#include <QTableView>
#include <QTabWidget>
#include <gtest/gtest.h>

#include <array>

#include "dialogs/common_settings.h"
#include "dialogs/controller_params.h"
#include "dialogs/main_settings.h"
#include "dialogs/settings_list.h"
#include "driver/controllers.h"
#include "tests/dialogs/qt_test_support.h"
#include "tests/dialogs/settings/fake_device.h"
#include "ui_common_settings.h"

namespace {

TEST(Screenshots, EveryDialogAndPageIsRendered) {
  StartQt();
  TServicesScope services;
  auto device = CreateComObject<TFakeDevice>();
  TControllers list;
  list.AddNew("192.168.0.10")->Name = "Главный вход";
  list.AddNew("192.168.0.11")->Name = "Склад";
  device->SetSettingValue("ControllersList", OleVariant(list.SaveToXML()));

  const std::array<TfrmBaseSettingsClass, 1> pages = {&PageClass<TfrmMainSettings>};
  TfrmCommonSettings dialog(device.Get(), pages);
  dialog.show();
  std::vector<QString> files;
  files.push_back(SaveScreenshot(dialog, "common_settings_controllers"));
  dialog.Form().pcPages->setCurrentWidget(dialog.Form().tsInfo);
  files.push_back(SaveScreenshot(dialog, "common_settings_info"));
  files.push_back(SaveScreenshot(*dialog.Pages()[0], "main_settings_page"));

  TfrmSettingsList grid(device.Get());
  grid.show();
  files.push_back(SaveScreenshot(grid, "settings_list"));

  TfrmControllerParams params(nullptr, list.GetItem(0));
  params.show();
  files.push_back(SaveScreenshot(params, "controller_params"));

  for (const QString& file : files) {
    EXPECT_TRUE(QFile::exists(file)) << file.toStdString();
    EXPECT_GT(QFile(file).size(), 1000) << file.toStdString();
  }
}

}  // namespace
