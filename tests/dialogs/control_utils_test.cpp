// The widget helpers: enabling direct children, digits-only time edits.
#include "dialogs/control_utils.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include "tests/dialogs/qt_test_support.h"

namespace {

class WidgetHelpers : public ::testing::Test {
 protected:
  void SetUp() override { StartQt(); }
};

TEST_F(WidgetHelpers, SetChildControlsEnabledTouchesDirectChildrenOnly) {
  QWidget panel;
  auto* button = new QPushButton(&panel);
  auto* group = new QGroupBox(&panel);
  auto* inner = new QLineEdit(group);
  SetChildControlsEnabled(&panel, false);
  EXPECT_FALSE(button->isEnabled());
  EXPECT_FALSE(group->isEnabled());
  EXPECT_TRUE(inner->testAttribute(Qt::WA_ForceDisabled) == false);  // its own flag is untouched
  EXPECT_TRUE(panel.isEnabled());
  SetChildControlsEnabled(&panel, true);
  EXPECT_TRUE(button->isEnabled());
  EXPECT_TRUE(inner->isEnabled());
  SetChildControlsEnabled(nullptr, true);  // nothing to do, no crash
}

class NumericEdit : public WidgetHelpers {
 protected:
  void SetUp() override {
    WidgetHelpers::SetUp();
    owner = std::make_unique<QLineEdit>();
    SetNumericEdit(owner.get());
    owner->show();
    owner->setFocus();
  }
  std::unique_ptr<QLineEdit> owner;
  QLineEdit& edit() { return *owner; }
};

TEST_F(NumericEdit, TakesAtMostTwoTypedDigits) {
  QTest::keyClicks(&edit(), "a1b2c3");
  EXPECT_EQ(edit().text(), "12");
  edit().clear();
  QTest::keyClicks(&edit(), "-+ 7");
  EXPECT_EQ(edit().text(), "7");
}

TEST_F(NumericEdit, RejectsPastedTextThatIsNotTwoDigits) {
  for (const char* pasted : {"x5", "123", "-1", " 4", "1.5"}) {
    edit().clear();
    QApplication::clipboard()->setText(QString::fromLatin1(pasted));
    edit().paste();
    EXPECT_EQ(edit().text(), QString()) << pasted;
  }
  QApplication::clipboard()->setText("42");
  edit().paste();
  EXPECT_EQ(edit().text(), "42");
}

TEST_F(NumericEdit, ProgramTextIsNotCut) {
  edit().setText("127");
  EXPECT_EQ(edit().text(), "127");
}

}  // namespace
