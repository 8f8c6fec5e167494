// The controller parameters dialog: the record shown and collected, writing with the controls
// disabled, failures and errors of the write, what OK and Close store.
#include "dialogs/controller_params.h"

#include <QApplication>
#include <QRegularExpression>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/controllers.h"
#include "platform/exceptions.h"
#include "tests/dialogs/qt_test_support.h"
#include "ui_controller_params.h"

namespace {

struct TWrite {
  std::string IP;
  TConfigBytes Config{};
  bool ControlsEnabled = true;
  bool Hourglass = false;
};

class ControllerParams : public ::testing::Test {
 protected:
  void SetUp() override {
    StartQt();
    controller.Name = "Door";
    Open();
  }
  void Open() {
    dialog = std::make_unique<TfrmControllerParams>(nullptr, &controller);
    dialog->SetConfigWriter([this](const std::string& ip, const TConfigBytes& config, std::string& text) {
      writes.push_back({ip, config, dialog->Form().gbMain->isEnabled() && dialog->Form().btnSave->isEnabled(),
                        HourglassShown()});
      if (throwOnWrite) throw Exception("socket gone");
      text = writeText;
      return writeCode;
    });
    dialog->show();
  }
  Ui::TfrmControllerParams& form() { return dialog->Form(); }
  QStringList Times() {
    QStringList texts;
    for (QLineEdit* edit : dialog->TimeEdits()) texts << edit->text();
    return texts;
  }

  TServicesScope services;
  TController controller{"5", "10.0.0.7"};
  std::unique_ptr<TfrmControllerParams> dialog;
  std::vector<TWrite> writes;
  int writeCode = 0;
  std::string writeText;
  bool throwOnWrite = false;
};

TEST_F(ControllerParams, ANewControllerShowsTheDefaultTimesAndFlags) {
  EXPECT_EQ(Times(), QStringList({"3", "20", "10", "10", "0", "1"}));
  const std::vector<QCheckBox*> ticked = {form().cb01, form().cb06, form().cb12, form().cb13, form().cb14,
                                          form().cb21, form().cb22, form().cb23, form().cb33};
  for (QCheckBox* box : dialog->findChildren<QCheckBox*>(QRegularExpression("^cb\\d\\d$"))) {
    const bool expected = std::find(ticked.begin(), ticked.end(), box) != ticked.end();
    EXPECT_EQ(box->isChecked(), expected) << box->objectName().toStdString();
  }
  EXPECT_EQ(dialog->findChildren<QCheckBox*>(QRegularExpression("^cb\\d\\d$")).size(), 27);
  EXPECT_EQ(form().edID->text(), "5");
  EXPECT_EQ(form().edName->text(), "Door");
  EXPECT_EQ(form().edAddr->text(), "10.0.0.7");
  EXPECT_EQ(dialog->CollectConfig(), controller.Config);
  EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Параметры контроллера"));
  EXPECT_EQ(form().btnOK->text(), QString::fromUtf8("\u041E\u041A"));
  EXPECT_TRUE(form().btnOK->isDefault());
  EXPECT_EQ(form().edID->maxLength(), 10);
  EXPECT_EQ(form().edAddr->maxLength(), 15);
}

TEST_F(ControllerParams, RecordsWithoutBit7OrWithTheEmptySlotAreWrittenBackClean) {
  controller.Config = {0x03, 0x14, 0x0A, 0x0A, 0x00, 0x01, 0x42, 0x1C, 0x0E, 0xC8};
  dialog->LoadConfig();
  EXPECT_EQ(Times(), QStringList({"3", "20", "10", "10", "0", "1"}));
  EXPECT_TRUE(form().cb33->isChecked());
  EXPECT_EQ(dialog->CollectConfig(), (TConfigBytes{0x83, 0x94, 0x8A, 0x8A, 0x80, 0x81, 0xC2, 0x9C, 0x8E, 0x88}));
}

TEST_F(ControllerParams, TimeEditsTakeTwoDigitsAndEmptyIsZero) {
  QTest::keyClicks(form().edTimeZ, "x");
  form().edTimeZ->clear();
  form().edTimeDoor->clear();
  QTest::keyClicks(form().edTimeDoor, "9a9b9");
  EXPECT_EQ(form().edTimeDoor->text(), "99");
  const TConfigBytes config = dialog->CollectConfig();
  EXPECT_EQ(config[0], 0x80);
  EXPECT_EQ(config[1], 0xE3);
}

TEST_F(ControllerParams, WriteDisablesTheControlsUsesTheTypedAddressAndStoresOnlyTheBytes) {
  form().edAddr->setText("10.0.0.9");
  form().edTimeAlarm->setText("42");
  form().edName->setText("Other");
  QTest::mouseClick(form().btnSave, Qt::LeftButton);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].IP, "10.0.0.9");
  EXPECT_FALSE(writes[0].ControlsEnabled);
  EXPECT_TRUE(writes[0].Hourglass);
  EXPECT_EQ(writes[0].Config[2], 0x80 | 42);
  EXPECT_EQ(controller.Config[2], 0x80 | 42);
  EXPECT_EQ(controller.IPAddr, "10.0.0.7");
  EXPECT_EQ(controller.Name, "Door");
  EXPECT_TRUE(form().gbMain->isEnabled());
  EXPECT_TRUE(form().btnSave->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(services->Boxes.empty());
  EXPECT_TRUE(dialog->isVisible());
  // "Закрыть" afterwards keeps the written bytes and drops the other fields.
  QTest::mouseClick(form().btnCancel, Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(controller.Config[2], 0x80 | 42);
  EXPECT_EQ(controller.Name, "Door");
  EXPECT_EQ(writes.size(), 1u);
}

TEST_F(ControllerParams, AFailedWriteShowsItsTextAndTheDialogStaysOpen) {
  writeCode = 4505;
  writeText = "Ошибка соединения";
  QTest::mouseClick(form().btnSave, Qt::LeftButton);
  ASSERT_EQ(services->Boxes.size(), 1u);
  EXPECT_EQ(services->Boxes[0].Text, QString::fromUtf8("Ошибка соединения"));
  EXPECT_EQ(services->Boxes[0].Icon, QMessageBox::Critical);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(form().gbTime->isEnabled());
}

TEST_F(ControllerParams, AnErrorDuringTheWriteReenablesTheControlsAndIsShown) {
  throwOnWrite = true;
  QTest::mouseClick(form().btnSave, Qt::LeftButton);
  EXPECT_TRUE(form().gbMain->isEnabled());
  EXPECT_TRUE(form().btnOK->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  ASSERT_EQ(services->Boxes.size(), 1u);
  EXPECT_EQ(services->Boxes[0].Text, "socket gone");
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(ControllerParams, OkWritesAgainAndStoresTheFieldsEvenWhenTheWriteFails) {
  QTest::mouseClick(form().btnSave, Qt::LeftButton);
  writeCode = 1007;
  writeText = "Устройство не отвечает";
  form().edAddr->setText("192.168.000.5");
  form().edID->setText("12");
  form().edName->setText("Gate");
  form().chbEntranceControl->setChecked(true);
  form().chbExitControl->setChecked(true);
  QTest::mouseClick(form().btnOK, Qt::LeftButton);
  EXPECT_EQ(writes.size(), 2u);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(services->Boxes.size(), 1u);
  EXPECT_EQ(controller.IPAddr, "192.168.0.5");
  EXPECT_EQ(controller.ID, "12");
  EXPECT_EQ(controller.Name, "Gate");
  EXPECT_TRUE(controller.EntranceControl);
  EXPECT_TRUE(controller.ExitControl);
}

TEST_F(ControllerParams, AnErrorOnOkIsShownAndTheFieldsAreStoredAllTheSame) {
  throwOnWrite = true;
  form().edName->setText("Gate");
  QTest::mouseClick(form().btnOK, Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(controller.Name, "Gate");
  ASSERT_EQ(services->Boxes.size(), 1u);
  EXPECT_TRUE(form().gbMain->isEnabled());
}

TEST_F(ControllerParams, EscClosesWithoutStoringEnterClosesWithOk) {
  form().edName->setText("Changed");
  QTest::keyClick(form().edName, Qt::Key_Escape);
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(controller.Name, "Door");
  EXPECT_TRUE(writes.empty());
  dialog->show();
  QTest::keyClick(form().edName, Qt::Key_Return);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(controller.Name, "Changed");
}

TEST_F(ControllerParams, OpensWithTheFocusOnSaveTheFirstOfTheTabOrder) {
  dialog->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
  EXPECT_EQ(QApplication::focusWidget(), form().btnSave);
  EXPECT_EQ(form().btnSave->nextInFocusChain(), form().edID);
}

}  // namespace
