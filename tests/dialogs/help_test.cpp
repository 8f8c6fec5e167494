// Context help data: help ids and their texts, the pop-up point, the pop-up topics of the help file.
#include "dialogs/help.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "dialogs/help_popup.h"
#include "tests/dialogs/qt_test_support.h"

namespace {

TEST(HelpTexts, IdsOfTheTableAnswerTheirTextsOthersAreEmpty) {
  EXPECT_EQ(GetHelpByID(1001), QString::fromUtf8("Сохранить настройки и закрыть окно"));
  EXPECT_EQ(GetHelpByID(1002), QString::fromUtf8("Закрыть окно без сохранения настроек"));
  EXPECT_EQ(GetHelpByID(1003), QString::fromUtf8("Настройка параметров и подробная информация о драйвере"));
  EXPECT_EQ(GetHelpByID(1000),
            QString::fromUtf8("Дополнительные функции: \r\n - Установка параметров в значегие по умолчанию\r\n"
                              " - Тест работоспособности устройства\r\n - Отображение полного списка настроек\r\n"
                              " - Справка"));
  for (int id : {0, 7, 999, 1004, 10000}) EXPECT_TRUE(GetHelpByID(id).isEmpty()) << id;
}

TEST(HelpPopupPoint, PackedCoordinatesAreSigned16Bit) {
  EXPECT_EQ(UnpackPopupPos(0x00140030), QPoint(0x30, 0x14));
  EXPECT_EQ(UnpackPopupPos(static_cast<std::int32_t>(0xFFFEFFFF)), QPoint(-1, -2));
  for (QPoint p : {QPoint(0, 0), QPoint(1919, 1079), QPoint(-300, 5), QPoint(32767, -32768)})
    EXPECT_EQ(UnpackPopupPos(PackPopupPos(p)), p);
}

TEST(HelpPopupPoint, IsSharedByTheProcessAndStartsAtOrigin) {
  QPoint& position = HelpPopupPos();
  EXPECT_EQ(&position, &HelpPopupPos());
  position = QPoint(3, 4);
  EXPECT_EQ(HelpPopupPos(), QPoint(3, 4));
  position = QPoint();
}

TEST(PopupTopics, TopicsAreFoundByNumberUpToTheNextTopic) {
  const std::string text =
      ".topic 1\r\nFirst line.\r\nSecond line.\r\n\r\n.topic 12\nTwelve.\n\n.topic IDH_X\nSymbolic.\n"
      ".topic 3\n\nЧетыре\n";
  EXPECT_EQ(ParsePopupTopic(text, 1), QString("First line.\nSecond line."));
  EXPECT_EQ(ParsePopupTopic(text, 12), QString("Twelve."));
  EXPECT_EQ(ParsePopupTopic(text, 3), QString::fromUtf8("Четыре"));
  EXPECT_FALSE(ParsePopupTopic(text, 2).has_value());
  EXPECT_FALSE(ParsePopupTopic("", 1).has_value());
  EXPECT_FALSE(ParsePopupTopic("no topics at all", 1).has_value());
}

TEST(PopupTopics, CompiledHelpFileCarriesThePopupTopics) {
  const QString file = QStringLiteral(TAVO_TEST_HELP_CHM);
  ASSERT_TRUE(QFile::exists(file)) << file.toStdString();
  const auto topic = ReadPopupTopic(file, 7);
  ASSERT_TRUE(topic.has_value());
  EXPECT_TRUE(topic->contains(QString::fromUtf8("Справка"))) << topic->toStdString();
  EXPECT_TRUE(ReadPopupTopic(file, 1).has_value());
  EXPECT_FALSE(ReadPopupTopic(file, 999).has_value());
}

TEST(PopupTopics, MissingOrBrokenFilesGiveNothing) {
  QTemporaryDir folder;
  EXPECT_FALSE(ReadPopupTopic(folder.filePath("none.chm"), 1).has_value());
  QFile junk(folder.filePath("junk.chm"));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("ITSF this is not a help file");
  junk.close();
  EXPECT_FALSE(ReadPopupTopic(junk.fileName(), 1).has_value());
}

TEST(HelpFile, LiesBesideTheModule) {
  EXPECT_EQ(HelpFileBeside("/opt/tavo/libtavoeq_morvik.so"), QString("/opt/tavo/help.chm"));
}

TEST(HelpPopupWidget, HasThePopupColoursMarginsAndPoint) {
  StartQt();
  THHPopup record;
  record.pt = QPoint(40, 30);
  record.pszText = "Text";
  THelpPopup popup(record);
  popup.Popup();
  EXPECT_TRUE(popup.isVisible());
  EXPECT_TRUE(popup.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(popup.palette().color(QPalette::Window), QColor(255, 255, 238));
  EXPECT_EQ(popup.palette().color(QPalette::WindowText), QColor(0, 0, 0));
  EXPECT_EQ(popup.contentsMargins(), QMargins(5, 5, 5, 5));
  EXPECT_EQ(popup.pos(), QPoint(40, 30));
  EXPECT_EQ(popup.text(), "Text");
  SaveScreenshot(popup, "help_popup");
}

}  // namespace
