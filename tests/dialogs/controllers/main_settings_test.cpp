// The controller list page: loading and storing ControllersList, add, delete and edit through the
// parameters dialog, and the page inside the common settings dialog.
#include "dialogs/main_settings.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTableView>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QWhatsThis>
#include <gtest/gtest.h>

#include <array>

#include "dialogs/common_settings.h"
#include "dialogs/controller_params.h"
#include "driver/controllers.h"
#include "tests/dialogs/qt_test_support.h"
#include "tests/dialogs/settings/fake_device.h"
#include "ui_common_settings.h"
#include "ui_controller_params.h"
#include "ui_main_settings.h"

namespace {

std::string ListXml(std::initializer_list<std::pair<const char*, const char*>> controllers) {
  TControllers list;
  for (const auto& [id, ip] : controllers) {
    TController* controller = list.AddNew(ip);
    controller->ID = id;
    controller->Name = std::string("Door ") + id;
  }
  return list.SaveToXML();
}

class ControllerListPage : public ::testing::Test {
 protected:
  void SetUp() override {
    StartQt();
    device = CreateComObject<TFakeDevice>();
  }
  void Open(const std::string& xml = {}) {
    device->SetSettingValue("ControllersList", OleVariant(xml));
    const std::array<TfrmBaseSettingsClass, 1> pages = {&PageClass<TfrmMainSettings>};
    dialog = std::make_unique<TfrmCommonSettings>(device.Get(), pages);
    page = static_cast<TfrmMainSettings*>(dialog->Pages()[0]);
    dialog->show();
  }
  QTableView* view() { return page->Form().lwControllers; }
  QString Cell(int row, int column) { return view()->model()->index(row, column).data().toString(); }
  int Rows() { return view()->model()->rowCount(); }
  // Runs the action; the parameters dialog it opens gets `inDialog`, which must close it.
  bool WithParams(QAction* action, std::function<void(TfrmControllerParams&)> inDialog) {
    return WithParams([action] { action->trigger(); }, std::move(inDialog));
  }
  bool WithParams(const std::function<void()>& start, std::function<void(TfrmControllerParams&)> inDialog) {
    auto opened = std::make_shared<bool>(false);
    QPointer<QTimer> watch = WhenModalOpens([opened, inDialog](QWidget* modal) {
      auto* params = dynamic_cast<TfrmControllerParams*>(modal);
      ASSERT_NE(params, nullptr);
      *opened = true;
      inDialog(*params);
    }, dialog.get(), std::chrono::milliseconds(500));
    start();
    StopWatching(watch);
    return *opened;
  }

  TServicesScope services;
  ComPtr<TFakeDevice> device;
  std::unique_ptr<TfrmCommonSettings> dialog;
  TfrmMainSettings* page = nullptr;
};

TEST_F(ControllerListPage, AnEmptySettingGivesAnEmptyListStoredAsAnEmptyList) {
  Open();
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(dialog->Form().pcPages->tabText(0), QString::fromUtf8("Список контроллеров"));
  EXPECT_EQ(dialog->size(), QSize(376, 375));
  dialog->done(QDialog::Accepted);
  TControllers stored;
  stored.LoadFromXML(device->GetSettingAsString("ControllersList"));
  EXPECT_EQ(stored.Count(), 0);
  EXPECT_NE(device->GetSettingAsString("ControllersList").find("controllers"), std::string::npos);
}

TEST_F(ControllerListPage, ListsTheControllersOfTheSetting) {
  Open(ListXml({{"1", "10.0.0.1"}, {"7", "10.0.0.2"}}));
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(1, 0), "7");
  EXPECT_EQ(Cell(1, 1), "Door 7");
  EXPECT_EQ(Cell(1, 2), "10.0.0.2");
  const QAbstractItemModel* model = view()->model();
  EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "ID");
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("Наименование"));
  EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), QString::fromUtf8("IP адрес"));
}

TEST_F(ControllerListPage, AddWithOkAppendsTheNewControllerAndCloseAddsNothing) {
  Open(ListXml({{"1", "10.0.0.1"}}));
  ASSERT_TRUE(WithParams(page->Form().acAdd, [](TfrmControllerParams& params) {
    EXPECT_EQ(params.Form().edAddr->text(), "192.168.0.1");
    EXPECT_EQ(params.Form().edID->text(), "1");
    EXPECT_EQ(params.Form().edName->text(), "Controller 2");
    params.Form().edAddr->setText("10.0.0.5");
    params.done(QDialog::Accepted);
  }));
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(1, 2), "10.0.0.5");
  EXPECT_EQ(Cell(1, 1), "Controller 2");
  ASSERT_TRUE(WithParams(page->Form().acAdd, [](TfrmControllerParams& params) { params.done(QDialog::Rejected); }));
  EXPECT_EQ(Rows(), 2);
  EXPECT_EQ(page->Controllers().Count(), 2);
  // Without the driver the write on OK could not be made: reported, the add stands.
  EXPECT_EQ(services->Boxes.size(), 1u);
}

TEST_F(ControllerListPage, DeleteRemovesTheSelectedRowAtOnceAndNothingWithoutASelection) {
  Open(ListXml({{"1", "10.0.0.1"}, {"2", "10.0.0.2"}, {"3", "10.0.0.3"}}));
  page->Form().acDel->trigger();
  EXPECT_EQ(Rows(), 3);
  view()->selectRow(1);
  page->Form().acDel->trigger();
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(0, 0), "1");
  EXPECT_EQ(Cell(1, 0), "3");
  EXPECT_TRUE(services->Boxes.empty());
}

TEST_F(ControllerListPage, EditWithoutASelectionOpensNothing) {
  Open(ListXml({{"1", "10.0.0.1"}}));
  EXPECT_FALSE(WithParams(page->Form().acEdit, [](TfrmControllerParams& params) { params.reject(); }));
}

TEST_F(ControllerListPage, EditThenCloseKeepsTheFieldsAndOkStoresThem) {
  Open(ListXml({{"1", "10.0.0.1"}}));
  view()->selectRow(0);
  ASSERT_TRUE(WithParams(page->Form().acEdit, [](TfrmControllerParams& params) {
    params.Form().edName->setText("Changed");
    params.Form().chbExitControl->setChecked(true);
    params.done(QDialog::Rejected);
  }));
  EXPECT_EQ(Cell(0, 1), "Door 1");
  EXPECT_FALSE(page->Controllers().GetItem(0)->ExitControl);
  ASSERT_TRUE(WithParams(page->Form().acEdit, [](TfrmControllerParams& params) {
    params.Form().edName->setText("Changed");
    params.done(QDialog::Accepted);
  }));
  EXPECT_EQ(Cell(0, 1), "Changed");
}

TEST_F(ControllerListPage, DoubleClickOnARowEdits) {
  Open(ListXml({{"1", "10.0.0.1"}}));
  const QPoint cell = view()->visualRect(view()->model()->index(0, 1)).center();
  auto opened = std::make_shared<bool>(false);
  QPointer<QTimer> watch = WhenModalOpens(
      [opened](QWidget* modal) { *opened = true; static_cast<QDialog*>(modal)->reject(); }, dialog.get());
  QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, cell);
  QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, cell);
  StopWatching(watch);
  EXPECT_TRUE(*opened);
}

TEST_F(ControllerListPage, DuplicatesAreKeptAndOnlyAnAppliedDialogStoresTheList) {
  const std::string original = ListXml({{"1", "10.0.0.1"}, {"1", "10.0.0.1"}});
  Open(original);
  EXPECT_EQ(Rows(), 2);
  view()->selectRow(0);
  page->Form().acDel->trigger();
  dialog->done(QDialog::Rejected);
  EXPECT_EQ(device->GetSettingAsString("ControllersList"), original);
  Open(original);
  dialog->done(QDialog::Accepted);
  TControllers stored;
  stored.LoadFromXML(device->GetSettingAsString("ControllersList"));
  EXPECT_EQ(stored.Count(), 2);
}

TEST_F(ControllerListPage, TheListAnswersItsKeysTabLeavesItAndToolbarButtonsGiveTheirHintsAsHelp) {
  Open(ListXml({{"1", "10.0.0.1"}, {"2", "10.0.0.2"}}));
  view()->selectRow(0);
  // The offscreen platform does not give the window back after a modal one: it is taken back before
  // each key, outside the time that the watch for the parameters dialog allows.
  const auto focus = [this] {
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    view()->setFocus();
  };
  const auto press = [this](Qt::Key key) { return [this, key] { QTest::keyClick(view(), key); }; };
  focus();
  EXPECT_TRUE(WithParams(press(Qt::Key_Return), [](TfrmControllerParams& params) {
    params.Form().edName->setText("Edited");
    params.done(QDialog::Accepted);
  }));
  EXPECT_EQ(Cell(0, 1), "Edited");
  focus();
  EXPECT_TRUE(WithParams(press(Qt::Key_Insert), [](TfrmControllerParams& params) { params.done(QDialog::Accepted); }));
  EXPECT_EQ(Rows(), 3);
  view()->selectRow(0);
  focus();
  press(Qt::Key_Delete)();
  EXPECT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(0, 0), "2");
  // Tab and Shift+Tab leave the list; Tab goes on to OK.
  focus();
  QTest::keyClick(view(), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_FALSE(view()->hasFocus());
  focus();
  QWidget* reached = view();
  for (int i = 0; i < 20 && reached != nullptr && reached != dialog->Form().btnOK; ++i) {
    QTest::keyClick(reached, Qt::Key_Tab);
    reached = QApplication::focusWidget();
  }
  EXPECT_EQ(reached, dialog->Form().btnOK);
  // What's This on a toolbar button: the button's hint at its corner.
  for (QAction* action : {page->Form().acAdd, page->Form().acDel, page->Form().acEdit}) {
    QWidget* button = page->Form().ActionToolBar1->widgetForAction(action);
    QWhatsThis::enterWhatsThisMode();
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(3, 3));
    QWhatsThis::leaveWhatsThisMode();
    ASSERT_FALSE(services->Popups.empty());
    EXPECT_EQ(services->Popups.back().second.pszText, action->text());
    EXPECT_EQ(services->Popups.back().second.pt, button->mapToGlobal(QPoint(0, 0)));
  }
  EXPECT_EQ(Rows(), 2);
}

TEST_F(ControllerListPage, AReloadOfAnUnreadableSettingRaises) {
  Open(ListXml({{"1", "10.0.0.1"}}));
  device->SetSettingValue("ControllersList", OleVariant("<controllers><controller>"));
  dialog->Form().miReset->trigger();  // defaults: the empty list, fine
  EXPECT_EQ(Rows(), 0);
  EXPECT_TRUE(services->Boxes.empty());
  device->SetSettingValue("ControllersList", OleVariant("not xml at all <"));
  EXPECT_THROW(page->LoadSettings(), std::exception);
}

}  // namespace
