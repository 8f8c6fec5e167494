// The settings grid: rows read from the live table, the in-place editors, reset of one and all.
#include "dialogs/settings_list.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include "tests/dialogs/qt_test_support.h"
#include "tests/dialogs/settings/fake_device.h"
#include "ui_settings_list.h"

namespace {

// Rows of the fake device: the framework's three, then the driver's three.
constexpr int kDefaultTimeOut = 0;
constexpr int kEventLogEnabled = 1;
constexpr int kDebugLogEnabled = 2;
constexpr int kControllersList = 3;
constexpr int kCardNumFormat = 4;
constexpr int kEventRecCount = 5;

class SettingsList : public ::testing::Test {
 protected:
  void SetUp() override {
    StartQt();
    device = CreateComObject<TFakeDevice>();
    grid = std::make_unique<TfrmSettingsList>(device.Get());
    grid->show();
    grid->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(grid.get()));
    view()->setFocus();
  }
  QTableView* view() { return grid->Form().lvSettings; }
  QString Cell(int row, int column) { return view()->model()->index(row, column).data().toString(); }
  void Select(int row) { view()->selectRow(row); }
  TSettingStruct& Entry(int row) { return *device->GetSetting(row); }

  ComPtr<TFakeDevice> device;
  std::unique_ptr<TfrmSettingsList> grid;
};

TEST_F(SettingsList, ListsEverySettingWithCaptionValueAndDefault) {
  ASSERT_EQ(view()->model()->rowCount(), 6);
  EXPECT_EQ(Cell(kDefaultTimeOut, 0), QString::fromUtf8("Таймаут по умолчанию"));
  EXPECT_EQ(Cell(kDefaultTimeOut, 1), "120");
  EXPECT_EQ(Cell(kDebugLogEnabled, 2), "False");
  device->SetSettingValue("EventRecCount", OleVariant(std::int32_t{7}));
  EXPECT_EQ(Cell(kEventRecCount, 1), "7");  // read live, no copy kept
  EXPECT_EQ(Cell(kEventRecCount, 2), "5000");
  const QAbstractItemModel* model = view()->model();
  EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("Наименование"));
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("Значение"));
  EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), QString::fromUtf8("По-умолчанию"));
  EXPECT_EQ(view()->columnWidth(0), 190);
  EXPECT_EQ(view()->columnWidth(1), 90);
}

TEST_F(SettingsList, EnterOnABooleanOpensTheDropDownAndStoresTheChoice) {
  Entry(kDebugLogEnabled).Value = OleVariant(true);
  Select(kDebugLogEnabled);
  QTest::keyClick(view(), Qt::Key_Return);
  QComboBox* combo = grid->Form().cbEdit;
  ASSERT_TRUE(grid->Editing());
  EXPECT_TRUE(combo->isVisible());
  EXPECT_TRUE(combo->hasFocus());
  EXPECT_EQ(combo->currentText(), "True");
  EXPECT_EQ(combo->x(), view()->viewport()->mapTo(grid.get(), view()->visualRect(view()->model()->index(kDebugLogEnabled, 1)).topLeft()).x());
  EXPECT_EQ(combo->width(), view()->columnWidth(1));
  combo->setCurrentIndex(0);
  QTest::keyClick(combo, Qt::Key_Return);
  EXPECT_FALSE(grid->Editing());
  EXPECT_FALSE(combo->isVisible());
  EXPECT_EQ(Entry(kDebugLogEnabled).Value.Type(), VT_BOOL);
  EXPECT_FALSE(Entry(kDebugLogEnabled).Value.AsBoolean());
  EXPECT_EQ(Cell(kDebugLogEnabled, 1), "False");
  EXPECT_TRUE(view()->hasFocus());
}

TEST_F(SettingsList, BooleansThatAreNotTrueOpenWithFalse) {
  for (const OleVariant& value : {OleVariant(false), OleVariant("True"), OleVariant(std::int32_t{-1}), OleVariant()}) {
    Entry(kEventLogEnabled).Value = value;
    Select(kEventLogEnabled);
    grid->BeginEdit();
    EXPECT_EQ(grid->Form().cbEdit->currentIndex(), 0);
    grid->EndEdit(true);
  }
}

TEST_F(SettingsList, F2OnANumberStoresTheTypedTextAsAString) {
  Select(kDefaultTimeOut);
  QTest::keyClick(view(), Qt::Key_F2);
  QLineEdit* edit = grid->Form().edEdit;
  ASSERT_TRUE(edit->isVisible());
  EXPECT_EQ(edit->text(), "120");
  edit->clear();
  QTest::keyClicks(edit, "300");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(Entry(kDefaultTimeOut).Value.Type(), VT_BSTR);
  EXPECT_EQ(Entry(kDefaultTimeOut).Value.AsString(), "300");
  EXPECT_EQ(Cell(kDefaultTimeOut, 1), "300");
  // Text that is no number is stored unchanged, without a message.
  Select(kCardNumFormat);
  grid->BeginEdit();
  edit->setText("abc");
  grid->EndEdit(false);
  EXPECT_EQ(Entry(kCardNumFormat).Value.AsString(), "abc");
  // A long value (the list of many controllers) is edited and stored whole.
  const std::string list(500000, 'c');
  Entry(kControllersList).Value = OleVariant(list);
  Select(kControllersList);
  QTest::keyClick(view(), Qt::Key_Return);
  QTest::keyClicks(edit, "!");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(Entry(kControllersList).Value.AsString(), list + "!");
}

TEST_F(SettingsList, EscInTheEditorKeepsTheValueAndReturnsToTheList) {
  Select(kEventRecCount);
  grid->BeginEdit();
  grid->Form().edEdit->setText("1");
  QTest::keyClick(grid->Form().edEdit, Qt::Key_Escape);
  EXPECT_FALSE(grid->Editing());
  EXPECT_FALSE(grid->Form().edEdit->isVisible());
  EXPECT_EQ(Entry(kEventRecCount).Value.AsString(), "5000");
  EXPECT_TRUE(view()->hasFocus());
  EXPECT_TRUE(grid->isVisible());
}

TEST_F(SettingsList, AnEditEndedByChoosingAnotherRowIsStoredWhereItBegan) {
  Select(kEventRecCount);
  grid->BeginEdit();
  grid->Form().edEdit->setText("250");
  const QRect other = view()->visualRect(view()->model()->index(kDefaultTimeOut, 0));
  QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, other.center());
  EXPECT_FALSE(grid->Editing());
  EXPECT_EQ(Entry(kEventRecCount).Value.AsString(), "250");
  EXPECT_EQ(Entry(kDefaultTimeOut).Value.AsInteger(), 120);
  // The same when the selection moves first and the edit ends afterwards.
  Select(kCardNumFormat);
  grid->BeginEdit();
  grid->Form().edEdit->setText("9");
  view()->selectionModel()->clearSelection();
  grid->EndEdit(false);
  EXPECT_EQ(Entry(kCardNumFormat).Value.AsString(), "9");
}

TEST_F(SettingsList, EditingNeedsASelectedRow) {
  view()->clearSelection();
  grid->BeginEdit();
  EXPECT_FALSE(grid->Editing());
  grid->Form().miEdit->trigger();
  EXPECT_FALSE(grid->Editing());
  const QPoint cell = view()->visualRect(view()->model()->index(kEventRecCount, 1)).center();
  QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, cell);  // a user's double click
  QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, cell);  // begins with a click
  EXPECT_TRUE(grid->Editing());
}

TEST_F(SettingsList, ResetOneAndResetAllWriteTheDefaults) {
  Entry(kEventRecCount).Value = OleVariant(std::int32_t{1});
  Entry(kCardNumFormat).Value = OleVariant(std::int32_t{1});
  Select(kEventRecCount);
  grid->Form().miDefault->trigger();
  EXPECT_EQ(Cell(kEventRecCount, 1), "5000");
  EXPECT_EQ(Cell(kCardNumFormat, 1), "1");
  Entry(kDebugLogEnabled).Value = OleVariant(true);
  QTest::mouseClick(grid->Form().btnDefault, Qt::LeftButton);
  for (int row = 0; row < device->GetSettingsCount(); ++row)
    EXPECT_TRUE(VariantsEqual(Entry(row).Value.Raw(), Entry(row).DefaultValue.Raw())) << row;
  EXPECT_EQ(Cell(kCardNumFormat, 1), "0");
  EXPECT_TRUE(grid->isVisible());
}

TEST_F(SettingsList, TheStatusLineShowsTheLastSelectedDescription) {
  Select(kEventRecCount);
  EXPECT_EQ(grid->Form().stStatus->text(), QString::fromUtf8("Количество событий в журнале"));
  view()->selectionModel()->clear();
  EXPECT_EQ(grid->Form().stStatus->text(), QString::fromUtf8("Количество событий в журнале"));
}

TEST_F(SettingsList, EnterAndEscCloseNothingTabLeavesTheListAndTabOrOkKeepATypedValue) {
  QTest::keyClick(view(), Qt::Key_Escape);
  QTest::keyClick(grid.get(), Qt::Key_Return);
  QTest::keyClick(grid->Form().btnOK, Qt::Key_Return);
  EXPECT_TRUE(grid->isVisible());
  // The arrows move between the rows; Tab and Shift+Tab move on to the window's other controls.
  Select(kDefaultTimeOut);
  QTest::keyClick(view(), Qt::Key_Down);
  EXPECT_EQ(view()->currentIndex().row(), kDefaultTimeOut + 1);
  for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
    view()->setFocus();
    QTest::keyClick(view(), key, key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
    EXPECT_FALSE(view()->hasFocus()) << key;
  }
  for (const bool byTab : {true, false}) {
    Select(kEventRecCount);
    grid->BeginEdit();
    grid->Form().edEdit->setText(byTab ? "64" : "65");
    if (byTab)
      QTest::keyClick(grid->Form().edEdit, Qt::Key_Tab);
    else
      grid->done(QDialog::Accepted);
    EXPECT_FALSE(grid->Editing());
    EXPECT_EQ(Entry(kEventRecCount).Value.AsString(), byTab ? "64" : "65");
  }
  EXPECT_EQ(grid->result(), QDialog::Accepted);
}

}  // namespace
