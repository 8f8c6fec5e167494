// Context help of the common settings dialog: F1 and What's This, help ids, pop-up texts and
// points, topics of the help file, the help menu item.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWhatsThis>
#include <gtest/gtest.h>

#include <array>

#include "dialogs/common_settings.h"
#include "tests/dialogs/qt_test_support.h"
#include "tests/dialogs/settings/fake_device.h"
#include "ui_common_settings.h"

namespace {

using TPage = TTestPage<300, 150, false, 11>;

class ContextHelp : public ::testing::Test {
 protected:
  void SetUp() override {
    StartQt();
    device = CreateComObject<TFakeDevice>();
    ASSERT_TRUE(folder.isValid());
    SetHelpModuleFile(folder.filePath("driver.so"));
  }
  void TearDown() override { SetHelpModuleFile(QString()); }

  void PlaceHelpFile() {
    ASSERT_TRUE(QFile::copy(QStringLiteral(TAVO_TEST_HELP_CHM), folder.filePath("help.chm")));
  }
  void Open() {
    const std::array<TfrmBaseSettingsClass, 1> pages = {&PageClass<TPage>};
    dialog = std::make_unique<TfrmCommonSettings>(device.Get(), pages);
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
  }
  void PressF1On(QWidget* widget) {
    widget->setFocus();
    QTest::keyClick(widget, Qt::Key_F1);
  }
  // A click in What's This mode on the widget, at a point inside it.
  void WhatsThisClick(QWidget* widget, QPoint at = QPoint(2, 2)) {
    QHelpEvent event(QEvent::WhatsThis, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &event);
  }
  const THHPopup& LastPopup() { return services->Popups.back().second; }

  TServicesScope services;
  QTemporaryDir folder;
  ComPtr<TFakeDevice> device;
  std::unique_ptr<TfrmCommonSettings> dialog;
};

TEST_F(ContextHelp, F1OnOkShowsItsTextAtItsCornerInPaleYellow) {
  Open();
  PressF1On(dialog->Form().btnOK);
  ASSERT_EQ(services->Popups.size(), 1u);
  EXPECT_TRUE(services->Popups[0].first.isEmpty());
  const THHPopup& popup = LastPopup();
  EXPECT_EQ(popup.pszText, QString::fromUtf8("Сохранить настройки и закрыть окно"));
  EXPECT_EQ(popup.pt, dialog->Form().btnOK->mapToGlobal(QPoint(0, 0)));
  EXPECT_EQ(popup.clrBackground, QColor(255, 255, 238));
  EXPECT_EQ(popup.clrForeground, QColor(0, 0, 0));
  EXPECT_EQ(popup.rcMargins, QMargins(5, 5, 5, 5));
  EXPECT_EQ(HelpPopupPos(), popup.pt);
}

TEST_F(ContextHelp, ButtonsAnswerTheirTexts) {
  Open();
  PressF1On(dialog->Form().btnCancel);
  PressF1On(dialog->Form().btnSetDefault);
  ASSERT_EQ(services->Popups.size(), 2u);
  EXPECT_EQ(services->Popups[0].second.pszText, QString::fromUtf8("Закрыть окно без сохранения настроек"));
  EXPECT_TRUE(services->Popups[1].second.pszText.startsWith(QString::fromUtf8("Дополнительные функции: \r\n")));
}

TEST_F(ContextHelp, F1OnAPageControlShowsThatControlsHintAtItsCorner) {
  Open();
  auto* page = static_cast<TPage*>(dialog->Pages()[0]);
  PressF1On(page->Edit);
  ASSERT_EQ(services->Popups.size(), 1u);
  EXPECT_EQ(LastPopup().pszText, "Hint of the edit");
  EXPECT_EQ(LastPopup().pt, page->Edit->mapToGlobal(QPoint(0, 0)));
}

TEST_F(ContextHelp, F1OnTheTabsShowsThePageControlsHint) {
  Open();
  QWidget* tabBar = dialog->Form().pcPages->findChild<QWidget*>(QStringLiteral("qt_tabwidget_tabbar"));
  ASSERT_NE(tabBar, nullptr);
  PressF1On(tabBar);
  ASSERT_EQ(services->Popups.size(), 1u);
  EXPECT_EQ(LastPopup().pszText, QString::fromUtf8("Настройка параметров и подробная информация о драйвере"));
  EXPECT_EQ(LastPopup().pt, dialog->Form().pcPages->mapToGlobal(QPoint(0, 0)));
}

TEST_F(ContextHelp, WhatsThisOnAnInformationLabelGivesItsEmptyHintAtItsCorner) {
  Open();
  dialog->Form().pcPages->setCurrentWidget(dialog->Form().tsInfo);
  QLabel* label = dialog->Form().lbTypeInfo;
  WhatsThisClick(label, QPoint(3, 4));
  ASSERT_EQ(services->Popups.size(), 1u);
  EXPECT_TRUE(LastPopup().pszText.isEmpty());
  EXPECT_EQ(LastPopup().pt, label->mapToGlobal(QPoint(0, 0)));
}

TEST_F(ContextHelp, WhatsThisOnAButtonAnswersItsId) {
  Open();
  WhatsThisClick(dialog->Form().btnCancel);
  ASSERT_EQ(services->Popups.size(), 1u);
  EXPECT_EQ(LastPopup().pszText, QString::fromUtf8("Закрыть окно без сохранения настроек"));
}

TEST_F(ContextHelp, HeaderAndFooterOutsideTheButtonsHaveNoHelp) {
  Open();
  WhatsThisClick(dialog->Form().pnHeader);
  WhatsThisClick(dialog->Form().lbModelName);
  WhatsThisClick(dialog->Form().pnFooter);
  PressF1On(dialog.get());
  EXPECT_TRUE(services->Popups.empty());
}

TEST_F(ContextHelp, ShiftF1EntersWhatsThisMode) {
  Open();
  QTest::keyClick(dialog.get(), Qt::Key_F1, Qt::ShiftModifier);
  EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
  QWhatsThis::leaveWhatsThisMode();
}

TEST_F(ContextHelp, OneClickInWhatsThisModeAnswersAndEndsTheMode) {
  Open();
  auto* page = static_cast<TPage*>(dialog->Pages()[0]);
  QWhatsThis::enterWhatsThisMode();
  QTest::mouseClick(page->Edit, Qt::LeftButton, {}, QPoint(3, 3));
  ASSERT_EQ(services->Popups.size(), 1u);
  EXPECT_EQ(LastPopup().pszText, "Hint of the edit");
  EXPECT_EQ(LastPopup().pt, page->Edit->mapToGlobal(QPoint(0, 0)));
  EXPECT_FALSE(QWhatsThis::inWhatsThisMode());
  // A click without help on the way ends the mode as well.
  QWhatsThis::enterWhatsThisMode();
  QTest::mouseClick(dialog->Form().pnFooter, Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_FALSE(QWhatsThis::inWhatsThisMode());
  EXPECT_EQ(services->Popups.size(), 1u);
  QWhatsThis::leaveWhatsThisMode();
}

TEST_F(ContextHelp, LowIdsAreTopicsOfTheHelpFileWhenItExists) {
  PlaceHelpFile();
  Open();
  dialog->Form().pcPages->setProperty(kHelpIdProperty, 7);
  dialog->Form().pcPages->setCurrentWidget(dialog->Form().tsInfo);
  WhatsThisClick(dialog->Form().lbVerInfo);
  ASSERT_EQ(services->Popups.size(), 1u);
  EXPECT_EQ(services->Popups[0].first, dialog->HelpFile() + "::/popups.txt");
  EXPECT_EQ(LastPopup().idString, 7);
  EXPECT_TRUE(LastPopup().pszText.isEmpty());
  EXPECT_EQ(LastPopup().pt, dialog->Form().pcPages->mapToGlobal(QPoint(0, 0)));
  // The desktop's pop-up reads that topic from the file.
  const QString file = services->Popups[0].first;
  EXPECT_TRUE(ReadPopupTopic(file.left(file.indexOf("::")), 7).has_value());
}

TEST_F(ContextHelp, WithoutAHelpFileLowIdsGiveAnEmptyPopupAndNoHelpItem) {
  Open();
  EXPECT_FALSE(dialog->Form().miHelp->isVisible());
  EXPECT_FALSE(dialog->Form().miHelp->isEnabled());
  dialog->Form().pcPages->setProperty(kHelpIdProperty, 7);
  PressF1On(dialog->Form().pcPages);
  ASSERT_EQ(services->Popups.size(), 1u);
  EXPECT_TRUE(services->Popups[0].first.isEmpty());
  EXPECT_EQ(LastPopup().idString, 0);
  EXPECT_TRUE(LastPopup().pszText.isEmpty());
}

TEST_F(ContextHelp, TheHelpItemOpensTheFileBesideTheDriver) {
  PlaceHelpFile();
  Open();
  EXPECT_EQ(dialog->HelpFile(), folder.filePath("help.chm"));
  EXPECT_TRUE(dialog->Form().miHelp->isVisible());
  dialog->Form().miHelp->trigger();
  ASSERT_EQ(services->HelpFiles.size(), 1u);
  EXPECT_EQ(services->HelpFiles[0], folder.filePath("help.chm"));
}

TEST_F(ContextHelp, FormHelpAnswersTrueAndStopsThePlatformsHelp) {
  Open();
  bool callHelp = true;
  EXPECT_TRUE(dialog->FormHelp(HELP_SETPOPUP_POS, PackPopupPos(QPoint(-5, 9)), callHelp));
  EXPECT_FALSE(callHelp);
  EXPECT_EQ(HelpPopupPos(), QPoint(-5, 9));
  callHelp = true;
  EXPECT_TRUE(dialog->FormHelp(HELP_CONTEXTPOPUP, 4711, callHelp));
  EXPECT_FALSE(callHelp);
  ASSERT_EQ(services->Popups.size(), 1u);
  EXPECT_TRUE(LastPopup().pszText.isEmpty());
  EXPECT_EQ(LastPopup().pt, QPoint(-5, 9));
  callHelp = true;
  EXPECT_TRUE(dialog->FormHelp(99, 1, callHelp));
  EXPECT_FALSE(callHelp);
  EXPECT_EQ(services->Popups.size(), 1u);
}

}  // namespace

