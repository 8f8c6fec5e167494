// The dialogs with the real driver: ShowSettingsDlg through the driver's seam, the configuration
// write against a simulated controller, and the driver's link kept alive while a modal dialog runs.
// Each case runs in its own network namespace (the link's ports are fixed).
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "dialogs/common_settings.h"
#include "dialogs/controller_params.h"
#include "dialogs/main_settings.h"
#include "dialogs/settings_dialog_provider.h"
#include "driver/controllers.h"
#include "driver/driver.h"
#include "driver/settings_dialog.h"
#include "driver/ui_services.h"
#include "tests/dialogs/qt_test_support.h"
#include "tests/driver/netdevice_test_support.h"
#include "tools/simulator/simulator.h"
#include "ui_common_settings.h"
#include "ui_controller_params.h"

namespace {

using namespace std::chrono_literals;

constexpr char kController[] = "127.0.0.2";

using netdevice_testing::FastController;
using netdevice_testing::FastTimings;

class DriverDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    StartQt();
    std::string pattern = (std::filesystem::temp_directory_path() / "dialogs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    setenv("TAVO_COMMON_APPDATA", folder.c_str(), 1);
    unsetenv("TAVOEQ_HEADLESS");
    RegisterQtSettingsDialogs();
    driver = CreateComObject<TDriver>(FastTimings());
  }
  void TearDown() override {
    driver.Reset();
    SetSettingsDialogs(nullptr);
    SetMessageBoxes(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  std::int32_t ShowSettingsDlg(std::function<void(TfrmCommonSettings&)> inDialog) {
    QPointer<QTimer> watch = WhenModalOpens([inDialog](QWidget* modal) {
      auto* dialog = dynamic_cast<TfrmCommonSettings*>(modal);
      ASSERT_NE(dialog, nullptr);
      inDialog(*dialog);
    });
    OleVariant in, out;
    std::string text;
    const std::int32_t code = driver->ShowSettingsDlg(in, out, 0, text);
    StopWatching(watch);
    return code;
  }

  TServicesScope services;
  std::filesystem::path folder;
  ComPtr<TDriver> driver;
};

TEST_F(DriverDialogs, ShowSettingsDlgOpensTheDialogWithTheControllerListPage) {
  bool sawPage = false;
  EXPECT_EQ(ShowSettingsDlg([&sawPage](TfrmCommonSettings& dialog) {
              sawPage = dialog.Pages().size() == 1 && dynamic_cast<TfrmMainSettings*>(dialog.Pages()[0]) != nullptr;
              QTest::mouseClick(dialog.Form().btnOK, Qt::LeftButton);
            }),
            0);
  EXPECT_TRUE(sawPage);
  EXPECT_NE(driver->GetSettingAsString("ControllersList").find("<controllers"), std::string::npos);
  EXPECT_EQ(ShowSettingsDlg([](TfrmCommonSettings& dialog) {
              QTest::mouseClick(dialog.Form().btnCancel, Qt::LeftButton);
            }),
            201);
}

TEST_F(DriverDialogs, TheDriversMessageBoxesGoThroughTheDialogServices) {
  MessageBoxes().ShowMessage("1\tDoor\t127.0.0.2\tВкл.\r\n", TMessageBoxIcon::Information);
  ASSERT_EQ(services->Boxes.size(), 1u);
  EXPECT_EQ(services->Boxes[0].Icon, QMessageBox::Information);
  EXPECT_TRUE(services->Boxes[0].Text.startsWith("1\tDoor"));
}

TEST_F(DriverDialogs, TheParametersDialogWritesTheConfigurationIntoTheController) {
  ctrlsim::Simulator sim;
  sim.Add(FastController(kController));
  sim.Start();
  TController controller("0", "192.168.0.1");
  TfrmControllerParams params(driver.Get(), &controller);
  params.show();
  params.Form().edAddr->setText(kController);
  params.Form().edTimeZ->setText("7");
  params.Form().cb00->setChecked(true);
  QTest::mouseClick(params.Form().btnSave, Qt::LeftButton);
  EXPECT_TRUE(services->Boxes.empty()) << (services->Boxes.empty() ? "" : services->Boxes[0].Text.toStdString());
  const auto commands = sim.Commands(kController);
  const auto write = std::find_if(commands.begin(), commands.end(), [](const auto& c) { return c.name == "WriteConfig"; });
  ASSERT_NE(write, commands.end());
  const TConfigBytes expected = {0x87, 0x94, 0x8A, 0x8A, 0x80, 0x81, 0xC3, 0x9C, 0x8E, 0x88};
  EXPECT_EQ(write->config.value_or(""), std::string(expected.begin(), expected.end()));
  EXPECT_EQ(controller.Config, expected);
  EXPECT_EQ(controller.IPAddr, "192.168.0.1");
  EXPECT_FALSE(driver->NetDevice().Connected());
  EXPECT_TRUE(params.Form().btnSave->isEnabled());
}

TEST_F(DriverDialogs, AnUnreachableControllerIsReportedAndTheDialogStaysUsable) {
  TController controller("0", "127.0.0.9");
  TfrmControllerParams params(driver.Get(), &controller);
  params.show();
  QTest::mouseClick(params.Form().btnSave, Qt::LeftButton);
  ASSERT_EQ(services->Boxes.size(), 1u);
  EXPECT_FALSE(services->Boxes[0].Text.isEmpty());
  EXPECT_TRUE(params.isVisible());
  EXPECT_TRUE(params.Form().gbMain->isEnabled());
}

TEST_F(DriverDialogs, ControllerEventsAreAcknowledgedWhileAModalDialogRuns) {
  ctrlsim::Simulator sim;
  sim.Add(FastController(kController));
  sim.Start();
  TMorvikNetDevice& device = driver->NetDevice();
  device.Controllers.AddNew(kController);
  device.SetBufferFolder((folder / "dev").string() + "/");
  ASSERT_EQ(device.Connect(), 0);
  const int before = sim.Stats(kController).eventsAcked;

  QDialog modal;
  QTimer::singleShot(10, [&sim] {
    sim.Control(kController, [](ctrlsim::SimController& c) { c.QueueEvent(ctrlsim::EventSpec{}); });
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (sim.Stats(kController).eventsAcked > before) modal.done(QDialog::Accepted);
  });
  poll.start(10);
  QTimer::singleShot(5000, &modal, [&modal] { modal.done(QDialog::Rejected); });  // bound
  EXPECT_EQ(modal.exec(), QDialog::Accepted);
  device.Disconnect(true);
}

}  // namespace
