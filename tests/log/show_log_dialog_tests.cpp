#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <functional>
#include <string>

#include "agent/log/log_writer.h"
#include "agent/log/show_log_dialog.h"

namespace {

class QtApplicationEnvironment : public testing::Environment {
 public:
  void SetUp() override { app_ = new QApplication(argc_, argv_); }
  void TearDown() override { delete app_; }

 private:
  int argc_ = 1;
  char name_[17] = "log_viewer_tests";
  char* argv_[2] = {name_, nullptr};
  QApplication* app_ = nullptr;
};

[[maybe_unused]] testing::Environment* const qt_environment =
    testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

class ShowLogDialogTest : public testing::Test {
 protected:
  void SetUp() override { store.LogViewer = &dialog; }

  QPlainTextEdit* Box() { return dialog.findChild<QPlainTextEdit*>("1000"); }
  QPushButton* Button(const char* id) { return dialog.findChild<QPushButton*>(id); }

  // What the box must show: the entries joined, with the document's own line ends.
  QString ExpectedText() const {
    QString text;
    for (const std::u16string& entry : store.LogLines) {
      text += QString::fromStdU16String(entry);
    }
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  }

  void LogLines(int count, const char* prefix = "line") {
    for (int i = 0; i < count; ++i) {
      LogMessage(store, (prefix + std::to_string(i)).c_str());
    }
  }

  LogStore store;  // outlives the dialog, as the frame's store does
  CShowLogDialog dialog;
};

TEST_F(ShowLogDialogTest, IsCreatedHiddenOnTopAndCentredWithTheTemplateControls) {
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_FALSE(dialog.isModal());
  EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("作業記錄檢視"));
  const QPoint screen_centre = dialog.screen()->availableGeometry().center();
  EXPECT_LE((dialog.geometry().center() - screen_centre).manhattanLength(), 2);

  ASSERT_NE(Box(), nullptr);
  for (const char* id : {"1", "1001", "1002"}) {
    ASSERT_NE(Button(id), nullptr) << id;
    EXPECT_TRUE(dialog.rect().contains(Button(id)->geometry())) << id;
  }
  EXPECT_TRUE(dialog.rect().contains(Box()->geometry()));
  EXPECT_LT(Box()->geometry().bottom(), Button("1")->geometry().top());
  EXPECT_LT(Button("1002")->geometry().right(), Button("1001")->geometry().left());
  EXPECT_LT(Button("1001")->geometry().right(), Button("1")->geometry().left());
  EXPECT_TRUE(Button("1")->isDefault());
  EXPECT_EQ(Button("1")->text(), QStringLiteral("關閉"));
  EXPECT_EQ(Button("1001")->text(), QStringLiteral("清除記錄"));
  EXPECT_EQ(Button("1002")->text(), QStringLiteral("複製"));
  EXPECT_FALSE(Box()->focusPolicy() & Qt::TabFocus);
  EXPECT_FALSE(Box()->isReadOnly());
  EXPECT_EQ(Box()->lineWrapMode(), QPlainTextEdit::NoWrap);
}

TEST_F(ShowLogDialogTest, ShowingDisplaysTheNewestEntriesLoggedWhileHidden) {
  LogLines(150);
  LogHexDump(store, "body", reinterpret_cast<const uint8_t*>("AB\n"), 3);
  EXPECT_EQ(dialog.RebuildCount(), 0) << "a hidden viewer only marks its text stale";

  dialog.ShowLog();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(Box()->toPlainText(), ExpectedText());
  EXPECT_EQ(store.LogLines.size(), 101u);
  EXPECT_TRUE(Box()->toPlainText().startsWith(QStringLiteral("[")));
  EXPECT_TRUE(Box()->toPlainText().contains(QStringLiteral(" - line51\n")));
  EXPECT_FALSE(Box()->toPlainText().contains(QStringLiteral(" - line50\n")));
}

TEST_F(ShowLogDialogTest, ManyLinesWhileVisibleRebuildOnce) {
  dialog.ShowLog();
  const int rebuilds_at_show = dialog.RebuildCount();
  LogLines(30);
  EXPECT_EQ(dialog.RebuildCount(), rebuilds_at_show);

  QCoreApplication::processEvents();
  EXPECT_EQ(dialog.RebuildCount(), rebuilds_at_show + 1);
  EXPECT_EQ(Box()->toPlainText(), ExpectedText());

  QCoreApplication::processEvents();
  EXPECT_EQ(dialog.RebuildCount(), rebuilds_at_show + 1) << "nothing new, nothing rebuilt";
}

TEST_F(ShowLogDialogTest, ClearEmptiesTheBoxUntilTheNextLine) {
  LogLines(3);
  dialog.ShowLog();
  Button("1001")->click();
  EXPECT_TRUE(Box()->toPlainText().isEmpty());
  EXPECT_FALSE(Button("1001")->isEnabled());
  EXPECT_FALSE(dialog.IsClearEnabled());

  LogMessage(store, "after clear");
  EXPECT_EQ(store.LogLines.size(), 1u);
  EXPECT_TRUE(Button("1001")->isEnabled());
  EXPECT_EQ(dialog.FlushPendingText(), ExpectedText());
  EXPECT_TRUE(Box()->toPlainText().endsWith(QStringLiteral(" - after clear\n")));
}

TEST_F(ShowLogDialogTest, ClearWinsOverARebuildStillPending) {
  dialog.ShowLog();
  LogLines(2);  // rebuild queued, not yet run
  Button("1001")->click();
  QCoreApplication::processEvents();
  EXPECT_TRUE(Box()->toPlainText().isEmpty());

  dialog.hide();
  dialog.ShowLog();
  EXPECT_TRUE(Box()->toPlainText().isEmpty()) << "showing again must not bring cleared lines back";
}

TEST_F(ShowLogDialogTest, CopyPutsTheWholeCurrentTextOnTheClipboard) {
  dialog.ShowLog();
  LogLines(5);
  LogHexDump(store, "body", reinterpret_cast<const uint8_t*>("xyz"), 3);
  QGuiApplication::clipboard()->clear();
  Button("1002")->click();  // before the queued rebuild: the copy still has every line
  EXPECT_EQ(QGuiApplication::clipboard()->text(), ExpectedText());
  EXPECT_EQ(Box()->textCursor().selectedText().size(), ExpectedText().size());
}

struct CloseWay {
  const char* name;
  std::function<void(CShowLogDialog&)> close;
};

const CloseWay kCloseWays[] = {
    {"CloseButton", [](CShowLogDialog& d) { d.findChild<QPushButton*>("1")->click(); }},
    {"EscapeKey",
     [](CShowLogDialog& d) {
       QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
       QApplication::sendEvent(&d, &escape);
     }},
    {"CloseBox", [](CShowLogDialog& d) { d.close(); }},
};

void PrintTo(const CloseWay& c, std::ostream* os) {
  *os << c.name;
}

class ShowLogDialogCloseTest : public ShowLogDialogTest,
                               public testing::WithParamInterface<CloseWay> {};

TEST_P(ShowLogDialogCloseTest, OnlyHidesAndShowsLinesLoggedMeanwhile) {
  LogLines(2, "before");
  dialog.ShowLog();
  GetParam().close(dialog);
  ASSERT_FALSE(dialog.isVisible());

  LogLines(3, "hidden");
  dialog.ShowLog();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(Box()->toPlainText(), ExpectedText());
  EXPECT_TRUE(Box()->toPlainText().contains(QStringLiteral(" - before0\n")));
  EXPECT_TRUE(Box()->toPlainText().endsWith(QStringLiteral(" - hidden2\n")));
}

INSTANTIATE_TEST_SUITE_P(Ways, ShowLogDialogCloseTest, testing::ValuesIn(kCloseWays),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ShowLogDialogParentTest, DisabledParentDoesNotReadAsPendingClear) {
  QWidget parent;
  auto* dialog = new CShowLogDialog(&parent);
  parent.setEnabled(false);
  EXPECT_TRUE(dialog->IsClearEnabled());
}

}  // namespace
