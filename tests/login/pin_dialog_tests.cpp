// The PIN dialog on the offscreen platform, driven by keys while its modal loop runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "loginmodule/pin_dialog.h"
#include "platform/dialog_units.h"

namespace {

QLineEdit* Entry(QDialog& dialog) {
  return dialog.findChild<QLineEdit*>(QStringLiteral("201"));
}
QPushButton* Button(QDialog& dialog, const char* id) {
  return dialog.findChild<QPushButton*>(QString::fromLatin1(id));
}

// Types each character as a key press carrying its text, as an input method delivers it.
void Type(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}

// Runs `act` once the dialog is the open modal window, then gives what AskPin returned.
std::u16string AskWhile(CPinDialog& dialog, const std::function<void()>& act) {
  bool acted = false;
  QTimer::singleShot(0, &dialog, [&] {
    EXPECT_EQ(QApplication::activeModalWidget(), &dialog);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
    act();
    acted = true;
  });
  // A dialog that ignores what was done must not hang the test.
  QTimer::singleShot(5000, &dialog, [&] { dialog.done(-1); });
  const std::u16string pin = dialog.AskPin();
  EXPECT_TRUE(acted);
  EXPECT_FALSE(dialog.isVisible());
  return pin;
}

TEST(PinDialog, IsTemplate104) {
  CPinDialog dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("讀取卡片資料"));
  EXPECT_EQ(dialog.parentWidget(), nullptr);
  const platform::DialogUnits units(dialog.font());
  EXPECT_EQ(dialog.size(), QSize(units.X(169), units.Y(76)));
  EXPECT_EQ(dialog.findChild<QLabel*>()->text(),
            QStringLiteral("請輸入「晶片卡密碼」，以進行讀取卡片資料"));
  EXPECT_EQ(dialog.findChild<QLabel*>()->geometry(), units.Rect(7, 7, 146, 9));
  EXPECT_EQ(Entry(dialog)->geometry(), units.Rect(7, 25, 105, 14));
  EXPECT_EQ(Entry(dialog)->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Button(dialog, "1")->text(), QStringLiteral("確定"));
  EXPECT_EQ(Button(dialog, "1")->geometry(), units.Rect(60, 47, 40, 17));
  EXPECT_TRUE(Button(dialog, "1")->isDefault());
  EXPECT_EQ(Button(dialog, "2")->text(), QStringLiteral("取消"));
  EXPECT_EQ(Button(dialog, "2")->geometry(), units.Rect(107, 47, 40, 17));
  EXPECT_FALSE(Button(dialog, "2")->isDefault());
  // Tab goes field, OK, Cancel; the text takes no focus.
  EXPECT_EQ(Entry(dialog)->nextInFocusChain(), Button(dialog, "1"));
  EXPECT_EQ(Button(dialog, "1")->nextInFocusChain(), Button(dialog, "2"));
  EXPECT_EQ(dialog.findChild<QLabel*>()->focusPolicy(), Qt::NoFocus);
  EXPECT_TRUE(dialog.m_strEntry.isEmpty());
  EXPECT_TRUE(dialog.m_strPin.isEmpty());
}

TEST(PinDialog, OpensModalWithFocusInTheFieldAndTakesAtMost16Characters) {
  CPinDialog dialog;
  const std::u16string pin = AskWhile(dialog, [&] {
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(QApplication::focusWidget(), Entry(dialog));
    Type(QApplication::focusWidget(), QStringLiteral("12345678901234567"));
    EXPECT_EQ(Entry(dialog)->text(), QStringLiteral("1234567890123456"));
    QTest::keyClick(Entry(dialog), Qt::Key_Return);
  });
  EXPECT_EQ(pin, u"1234567890123456");
  EXPECT_EQ(dialog.m_strEntry, QStringLiteral("1234567890123456"));
  EXPECT_EQ(dialog.m_strPin, dialog.m_strEntry);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(PinDialog, OkTakesTheFieldAsTyped) {
  struct Case {
    const char* what;
    QString typed;
    std::u16string pin;
  };
  const Case cases[] = {
      {"non-ASCII", QStringLiteral("密碼ä1"), u"密碼ä1"},
      {"nothing typed", QString(), u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CPinDialog dialog;
    const std::u16string pin = AskWhile(dialog, [&] {
      Type(Entry(dialog), c.typed);
      QTest::mouseClick(Button(dialog, "1"), Qt::LeftButton);
    });
    EXPECT_EQ(pin, c.pin);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  }
}

TEST(PinDialog, CancelEscAndTheCloseBoxGiveAnEmptyPin) {
  struct Case {
    const char* what;
    std::function<void(CPinDialog&)> close;
  };
  const Case cases[] = {
      {"Esc", [](CPinDialog& d) { QTest::keyClick(Entry(d), Qt::Key_Escape); }},
      {"Cancel", [](CPinDialog& d) { QTest::mouseClick(Button(d, "2"), Qt::LeftButton); }},
      {"close box", [](CPinDialog& d) { d.close(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CPinDialog dialog;
    const std::u16string pin = AskWhile(dialog, [&] {
      Type(Entry(dialog), QStringLiteral("1234"));
      c.close(dialog);
    });
    EXPECT_EQ(pin, u"");
    EXPECT_TRUE(dialog.m_strPin.isEmpty());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
  }
}

}  // namespace
