// The common settings dialog: composition, sizing, apply and cancel rules with the settings backup,
// the device test, the menu, the logo, and keys that must not close it.
#include "dialogs/common_settings.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <array>

#include "dialogs/settings_list.h"
#include "tests/dialogs/qt_test_support.h"
#include "tests/dialogs/settings/fake_device.h"
#include "ui_common_settings.h"
#include "ui_settings_list.h"

namespace {

using TSmallPage = TTestPage<200, 100, false, 1>;
using TWidePage = TTestPage<500, 100, false, 2>;
using TListSizedPage = TTestPage<376, 214, false, 3>;
using TRefusingPage = TTestPage<200, 100, true, 4>;
using TThirdPage = TTestPage<200, 100, false, 5>;

class CommonSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    StartQt();
    device = CreateComObject<TFakeDevice>();
    for (TPageLog* log : {&TSmallPage::Log, &TWidePage::Log, &TListSizedPage::Log, &TRefusingPage::Log,
                          &TThirdPage::Log})
      *log = {};
    SetHelpModuleFile(QStringLiteral("/nonexistent/folder/driver.so"));
  }
  void TearDown() override { SetHelpModuleFile(QString()); }

  template <std::size_t N>
  std::unique_ptr<TfrmCommonSettings> Make(const std::array<TfrmBaseSettingsClass, N>& pages) {
    return std::make_unique<TfrmCommonSettings>(device.Get(), std::span<const TfrmBaseSettingsClass>(pages));
  }
  std::unique_ptr<TfrmCommonSettings> MakeEmpty() {
    return std::make_unique<TfrmCommonSettings>(device.Get(), std::span<const TfrmBaseSettingsClass>());
  }
  std::string Setting(const char* name) { return device->GetSettingAsString(name); }

  TServicesScope services;
  ComPtr<TFakeDevice> device;
};

TEST_F(CommonSettings, WithoutPagesOnlyTheInformationTabAndNoReset) {
  auto dialog = MakeEmpty();
  QTabWidget* tabs = dialog->Form().pcPages;
  ASSERT_EQ(tabs->count(), 1);
  EXPECT_EQ(tabs->tabText(0), QString::fromUtf8("Информация"));
  EXPECT_FALSE(dialog->Form().miReset->isVisible());
  EXPECT_FALSE(dialog->Form().miReset->isEnabled());
  EXPECT_TRUE(dialog->ApplyPages());
  dialog->show();
  QTest::mouseClick(dialog->Form().btnOK, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

TEST_F(CommonSettings, PagesComeInOrderBeforeTheInformationTabFirstActive) {
  TSmallPage::Caption = "A";
  TThirdPage::Caption = "B";
  auto dialog = Make(std::array{&PageClass<TSmallPage>, &PageClass<TThirdPage>});
  QTabWidget* tabs = dialog->Form().pcPages;
  ASSERT_EQ(tabs->count(), 3);
  EXPECT_EQ(tabs->tabText(0), "A");
  EXPECT_EQ(tabs->tabText(1), "B");
  EXPECT_EQ(tabs->tabText(2), QString::fromUtf8("Информация"));
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_TRUE(dialog->Form().miReset->isVisible());
  // Two-phase creation: InitPage once, on a complete page, before the dialog adopted it.
  EXPECT_EQ(TSmallPage::Log.Inits, 1);
  EXPECT_TRUE(TSmallPage::Log.DeviceSetAtInit);
  EXPECT_FALSE(TSmallPage::Log.OwnerSetAtInit);
  EXPECT_EQ(dialog->Pages()[0]->OwnerDialog(), dialog.get());
  EXPECT_EQ(TSmallPage::Log.Loads, 1);
  EXPECT_EQ(TThirdPage::Log.Loads, 1);
  TSmallPage::Caption = TThirdPage::Caption = "Page";
}

TEST_F(CommonSettings, TheDialogGrowsToItsLargestPageAndNeverShrinks) {
  auto small = Make(std::array{&PageClass<TSmallPage>});
  EXPECT_EQ(small->size(), QSize(324, 375));
  auto listSized = Make(std::array{&PageClass<TListSizedPage>});
  EXPECT_EQ(listSized->size(), QSize(376, 375));
  auto wide = Make(std::array{&PageClass<TWidePage>});
  EXPECT_EQ(wide->width(), 500);
  wide->AddPages(std::array{&PageClass<TSmallPage>});
  EXPECT_EQ(wide->size(), QSize(500, 375));
  EXPECT_EQ(wide->Form().pcPages->count(), 3);
  EXPECT_EQ(wide->Form().pcPages->widget(2), wide->Form().tsInfo);
}

TEST_F(CommonSettings, OkWithARefusingPageStaysOpenAfterTheEarlierPagesStored) {
  auto dialog = Make(std::array{&PageClass<TSmallPage>, &PageClass<TRefusingPage>, &PageClass<TThirdPage>});
  dialog->show();
  static_cast<TSmallPage*>(dialog->Pages()[0])->Edit->setText("77");
  QTest::mouseClick(dialog->Form().btnOK, Qt::LeftButton);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(TSmallPage::Log.Saves, 1);
  EXPECT_EQ(TRefusingPage::Log.Checks, 1);
  EXPECT_EQ(TRefusingPage::Log.Saves, 0);
  EXPECT_EQ(TThirdPage::Log.Checks, 0);
  EXPECT_EQ(Setting("EventRecCount"), "77");
  EXPECT_TRUE(services->Boxes.empty());
  QTest::mouseClick(dialog->Form().btnOK, Qt::LeftButton);
  EXPECT_EQ(TSmallPage::Log.Checks, 2);
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(CommonSettings, OkStoresThePagesAndCancelDropsWhatWasTyped) {
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  auto* page = static_cast<TSmallPage*>(dialog->Pages()[0]);
  dialog->show();
  page->Edit->setText("10");
  QTest::mouseClick(dialog->Form().btnCancel, Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(Setting("EventRecCount"), "5000");
  EXPECT_EQ(TSmallPage::Log.Saves, 0);
  dialog->show();
  page->Edit->setText("20");
  QTest::mouseClick(dialog->Form().btnOK, Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(Setting("EventRecCount"), "20");
}

// Runs the full settings list from the dialog's menu; `inGrid` acts inside the grid's loop and
// closes it.
void RunSettingsList(TfrmCommonSettings& dialog, std::function<void(TfrmSettingsList&)> inGrid) {
  QPointer<QTimer> watch = WhenModalOpens([inGrid](QWidget* modal) {
    auto* grid = dynamic_cast<TfrmSettingsList*>(modal);
    ASSERT_NE(grid, nullptr);
    inGrid(*grid);
  }, &dialog);
  dialog.Form().miSettingsList->trigger();
  StopWatching(watch);
}

TEST_F(CommonSettings, GridAcceptedThenDialogCancelledRestoresTheSettingsFromBeforeTheGrid) {
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  dialog->show();
  RunSettingsList(*dialog, [this](TfrmSettingsList& grid) {
    device->FindSetting("EventRecCount")->Value = OleVariant(std::int32_t{42});
    QTest::mouseClick(grid.Form().btnOK, Qt::LeftButton);
  });
  EXPECT_EQ(Setting("EventRecCount"), "42");
  EXPECT_EQ(TSmallPage::Log.Loads, 2);  // the pages show the accepted change
  EXPECT_EQ(static_cast<TSmallPage*>(dialog->Pages()[0])->Edit->text(), "42");
  QTest::mouseClick(dialog->Form().btnCancel, Qt::LeftButton);
  EXPECT_EQ(Setting("EventRecCount"), "5000");
}

TEST_F(CommonSettings, GridCancelledRestoresAtOnceAndKeepsWhatThePagesShow) {
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  auto* page = static_cast<TSmallPage*>(dialog->Pages()[0]);
  dialog->show();
  page->Edit->setText("typed");
  RunSettingsList(*dialog, [this](TfrmSettingsList& grid) {
    device->FindSetting("CardNumFormat")->Value = OleVariant(std::int32_t{1});
    QTest::mouseClick(grid.Form().btnCancel, Qt::LeftButton);
  });
  EXPECT_EQ(Setting("CardNumFormat"), "0");
  EXPECT_EQ(page->Edit->text(), "typed");
  EXPECT_EQ(TSmallPage::Log.Loads, 1);
  EXPECT_TRUE(device->SettingsBackup().empty());
}

TEST_F(CommonSettings, BackupOfAnAcceptedGridEndsWithAnOkClose) {
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  dialog->show();
  RunSettingsList(*dialog, [this](TfrmSettingsList& grid) {
    device->FindSetting("CardNumFormat")->Value = OleVariant(std::int32_t{1});
    QTest::mouseClick(grid.Form().btnOK, Qt::LeftButton);
  });
  QTest::mouseClick(dialog->Form().btnOK, Qt::LeftButton);
  EXPECT_TRUE(device->SettingsBackup().empty());
  // What the host sets afterwards is not undone by the Cancel of the next showing.
  device->SetSettingValue("CardNumFormat", OleVariant(std::int32_t{2}));
  auto next = Make(std::array{&PageClass<TSmallPage>});
  next->show();
  QTest::mouseClick(next->Form().btnCancel, Qt::LeftButton);
  EXPECT_EQ(Setting("CardNumFormat"), "2");
}

TEST_F(CommonSettings, AStaleBackupIsClearedWhenTheDialogIsCreated) {
  device->BackupSettings();
  device->SetSettingValue("CardNumFormat", OleVariant(std::int32_t{3}));
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  dialog->show();
  QTest::mouseClick(dialog->Form().btnCancel, Qt::LeftButton);
  EXPECT_EQ(Setting("CardNumFormat"), "3");
}

TEST_F(CommonSettings, ResetWritesTheDefaultsAtOnceAndCancelKeepsThem) {
  device->SetSettingValue("EventRecCount", OleVariant(std::int32_t{9}));
  device->SetSettingValue("DebugLogEnabled", OleVariant(true));
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  dialog->show();
  EXPECT_EQ(static_cast<TSmallPage*>(dialog->Pages()[0])->Edit->text(), "9");
  dialog->Form().miReset->trigger();
  EXPECT_EQ(static_cast<TSmallPage*>(dialog->Pages()[0])->Edit->text(), "5000");
  QTest::mouseClick(dialog->Form().btnCancel, Qt::LeftButton);
  EXPECT_EQ(Setting("EventRecCount"), "5000");
  EXPECT_EQ(Setting("DebugLogEnabled"), "False");
}

TEST_F(CommonSettings, DeviceTestRunsWithThePagesValuesAndLeavesTheDeviceDisabledAndRestored) {
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  dialog->show();
  static_cast<TSmallPage*>(dialog->Pages()[0])->Edit->setText("123");
  std::string seen;
  bool hourglass = false;
  device->OnTest = [&] {
    seen = device->GetSettingAsString("EventRecCount");
    hourglass = HourglassShown();
  };
  dialog->Form().miDeviceTest->trigger();
  EXPECT_EQ(seen, "123");
  EXPECT_TRUE(hourglass);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(device->Calls, (std::vector<std::string>{"connect", "test", "disconnect"}));
  EXPECT_EQ(Setting("EventRecCount"), "5000");
  EXPECT_EQ(static_cast<TSmallPage*>(dialog->Pages()[0])->Edit->text(), "123");
  EXPECT_TRUE(device->SettingsBackup().empty());
  EXPECT_TRUE(services->Boxes.empty());
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(CommonSettings, DeviceTestReportsAFailedConnectWithItsText) {
  device->ConnectCode = 11001;
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  dialog->Form().miDeviceTest->trigger();
  ASSERT_EQ(services->Boxes.size(), 1u);
  EXPECT_EQ(services->Boxes[0].Text, QString::fromUtf8("Список контроллеров пуст"));
  EXPECT_EQ(services->Boxes[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(device->Calls, (std::vector<std::string>{"connect", "disconnect"}));
  device->ConnectCode = 1007;
  device->ConnectText = "no answer from 10.0.0.1";
  dialog->Form().miDeviceTest->trigger();
  ASSERT_EQ(services->Boxes.size(), 2u);
  EXPECT_EQ(services->Boxes[1].Text, "no answer from 10.0.0.1");
}

TEST_F(CommonSettings, DeviceTestReportsARefusingPageAndAFailedTest) {
  auto refusing = Make(std::array{&PageClass<TRefusingPage>});
  refusing->Form().miDeviceTest->trigger();
  ASSERT_EQ(services->Boxes.size(), 1u);
  EXPECT_EQ(services->Boxes[0].Text, QString::fromUtf8("Не удалось записать текущие настройки"));
  EXPECT_EQ(device->Calls, (std::vector<std::string>{"disconnect"}));
  device->TestResult = false;
  device->TestText = "test failed";
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  dialog->Form().miDeviceTest->trigger();
  ASSERT_EQ(services->Boxes.size(), 2u);
  EXPECT_EQ(services->Boxes[1].Text, "test failed");
}

TEST_F(CommonSettings, AnErrorDuringTheDeviceTestStillDisablesAndRestoresAndIsShown) {
  device->ThrowInConnect = true;
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  dialog->show();
  static_cast<TSmallPage*>(dialog->Pages()[0])->Edit->setText("1");
  dialog->Form().miDeviceTest->trigger();
  EXPECT_EQ(device->Calls, (std::vector<std::string>{"connect", "disconnect"}));
  EXPECT_EQ(Setting("EventRecCount"), "5000");
  EXPECT_TRUE(device->SettingsBackup().empty());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  ASSERT_EQ(services->Boxes.size(), 1u);
  EXPECT_EQ(services->Boxes[0].Text, "connect failed badly");
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(CommonSettings, EnterAndEscDoNotCloseTheDialog) {
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  dialog->show();
  for (QWidget* target : {static_cast<QWidget*>(dialog.get()), static_cast<QWidget*>(dialog->Form().btnOK),
                          static_cast<QWidget*>(dialog->Form().btnCancel)}) {
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Escape);
    QTest::keyClick(target, Qt::Key_Return);
    QTest::keyClick(target, Qt::Key_Enter);
    EXPECT_TRUE(dialog->isVisible()) << target->objectName().toStdString();
  }
  for (QPushButton* button : {dialog->Form().btnOK, dialog->Form().btnCancel, dialog->Form().btnSetDefault}) {
    EXPECT_FALSE(button->isDefault());
    EXPECT_FALSE(button->autoDefault());
  }
}

TEST_F(CommonSettings, TheInformationTabAndHeaderShowTheAboutData) {
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  auto& form = dialog->Form();
  EXPECT_EQ(form.lbTypeInfo->text(), QString::fromUtf8("Контроллер доступа"));
  EXPECT_EQ(form.lbModelInfo->text(), "Fake RK");
  EXPECT_EQ(form.lbModelName->text(), "Fake RK");
  EXPECT_EQ(form.lbVerInfo->text(), "4.1.7");
  EXPECT_EQ(form.lbDiverVersion->text(), "4.1.7");
  EXPECT_EQ(form.lbDescriptionInfo->text(), "Test device");
  EXPECT_TRUE(form.lbContactinfo->text().contains("http://example.invalid/"));
  EXPECT_EQ(form.pcPages->toolTip(), QString::fromUtf8("Настройка параметров и подробная информация о драйвере"));
  EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Настройки"));
}

TEST_F(CommonSettings, TheLogoOpensTheWebAddressWithAnHourglassMeanwhile) {
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  dialog->show();
  QTest::mouseClick(dialog->Form().imgLogo, Qt::LeftButton);
  ASSERT_EQ(services->WebAddresses.size(), 1u);
  EXPECT_EQ(services->WebAddresses[0], "http://example.invalid/");
  EXPECT_EQ(services->HourglassAtOpen, std::vector<bool>{true});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(CommonSettings, TheAdditionalButtonPopsUpTheMenuBelowItself) {
  auto dialog = Make(std::array{&PageClass<TSmallPage>});
  dialog->show();
  QMenu* menu = dialog->AdditionalMenu();
  const auto actions = menu->actions();
  ASSERT_EQ(actions.size(), 5);
  EXPECT_EQ(actions[0]->text(), QString::fromUtf8("Установить значения по-умолчанию"));
  EXPECT_EQ(actions[1]->text(), QString::fromUtf8("Выполнить тест устройства"));
  EXPECT_EQ(actions[2]->text(), QString::fromUtf8("Показать полный список настроек"));
  EXPECT_TRUE(actions[3]->isSeparator());
  EXPECT_EQ(actions[4]->text(), QString::fromUtf8("Справка"));
  QPushButton* button = dialog->Form().btnSetDefault;
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([menu] { return menu->isVisible(); }));
  EXPECT_EQ(menu->pos(), button->mapToGlobal(QPoint(0, button->height())));
  menu->close();
}

}  // namespace
