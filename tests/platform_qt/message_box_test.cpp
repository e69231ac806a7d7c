#include "platform/message_box.h"

#include <functional>
#include <ostream>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/frame_timers.h"
#include "platform/socket_notifications.h"
#include "platform_qt/test_sockets.h"

namespace platform {
namespace {

constexpr int kSafetyMs = 3000;
const std::u16string kText = u"Install the certificate for \u201cOstrabel\u201d?";
const std::u16string kCaption = u"DorvikaOstrabel";

QMessageBox* OpenBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QLatin1String("MessageBox") && widget->isVisible()) {
      return qobject_cast<QMessageBox*>(widget);
    }
  }
  return nullptr;
}

// Plays the user: acts on the box once it shows; closes it if the test never does.
class BoxDriver {
 public:
  explicit BoxDriver(std::function<void(QMessageBox&)> act) : act_(std::move(act)) {
    poll_.setInterval(5);
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      if (QMessageBox* box = OpenBox()) {
        poll_.stop();
        act_(*box);
      }
    });
    poll_.start();
    QTimer::singleShot(kSafetyMs, &poll_, [this] {
      if (QMessageBox* box = OpenBox()) {
        timedOut_ = true;
        box->close();
      }
    });
  }
  bool TimedOut() const { return timedOut_; }

 private:
  std::function<void(QMessageBox&)> act_;
  QTimer poll_;
  bool timedOut_ = false;
};

void Click(QMessageBox& box, QMessageBox::StandardButton which) {
  if (QAbstractButton* button = box.button(which)) {
    button->click();
  }
}

enum class Action { kClickOk, kClickYes, kClickNo, kEscape, kClose };

void Perform(QMessageBox& box, Action action) {
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  switch (action) {
    case Action::kClickOk:
      return Click(box, QMessageBox::Ok);
    case Action::kClickYes:
      return Click(box, QMessageBox::Yes);
    case Action::kClickNo:
      return Click(box, QMessageBox::No);
    case Action::kEscape:
      QCoreApplication::sendEvent(&box, &escape);
      return;
    case Action::kClose:
      box.close();
      return;
  }
}

struct Shown {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QString text;
  QString title;
};

struct BoxCase {
  const char* name;
  unsigned type;
  Action action;
  int answer;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
};

void PrintTo(const BoxCase& c, std::ostream* os) {
  *os << c.name;
}

class MessageBoxTest : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxTest, ShowsTheBoxAndAnswersTheChoice) {
  const BoxCase& c = GetParam();
  Shown shown;
  BoxDriver driver([&](QMessageBox& box) {
    shown = {box.icon(), box.standardButtons(), box.text(), box.windowTitle()};
    Perform(box, c.action);
  });

  EXPECT_EQ(MessageBox(kText, kCaption, c.type), c.answer);
  EXPECT_FALSE(driver.TimedOut());
  EXPECT_EQ(shown.icon, c.icon);
  EXPECT_EQ(shown.buttons, c.buttons);
  EXPECT_EQ(shown.text.toStdU16String(), kText);
  EXPECT_EQ(shown.title.toStdU16String(), kCaption);
}

constexpr QMessageBox::StandardButtons kOk = QMessageBox::Ok;
constexpr QMessageBox::StandardButtons kYesNo = QMessageBox::Yes | QMessageBox::No;

INSTANTIATE_TEST_SUITE_P(
    Choices, MessageBoxTest,
    ::testing::Values(
        BoxCase{"ErrorOk", MB_OK | MB_ICONERROR, Action::kClickOk, IDOK, QMessageBox::Critical,
                kOk},
        BoxCase{"OkEscape", MB_OK, Action::kEscape, IDOK, QMessageBox::NoIcon, kOk},
        BoxCase{"Yes", MB_YESNO | MB_ICONQUESTION, Action::kClickYes, IDYES, QMessageBox::Question,
                kYesNo},
        BoxCase{"No", MB_YESNO | MB_ICONQUESTION, Action::kClickNo, IDNO, QMessageBox::Question,
                kYesNo},
        BoxCase{"YesNoEscape", MB_YESNO, Action::kEscape, IDNO, QMessageBox::NoIcon, kYesNo},
        BoxCase{"YesNoClosed", MB_YESNO, Action::kClose, IDNO, QMessageBox::NoIcon, kYesNo}),
    [](const auto& info) { return std::string(info.param.name); });

class FrameSink : public SocketEventSink, public TimerSink {
 public:
  void OnSocketEvent(int socket, int event) override {
    reads += event == FD_READ ? 1 : 0;
    platform_test::Drain(socket);
    AnswerOnceBothCame();
  }
  void OnTimer(int) override {
    ++ticks;
    AnswerOnceBothCame();
  }
  int reads = 0;
  int ticks = 0;

 private:
  void AnswerOnceBothCame() {
    if (reads > 0 && ticks > 0) {
      if (QMessageBox* box = OpenBox()) {
        Click(*box, QMessageBox::Yes);
      }
    }
  }
};

TEST(MessageBoxLoopTest, SocketAndTimerEventsArriveWhileTheBoxIsOpen) {
  platform_test::Connection connection = platform_test::Connect(platform_test::Transport::kUnix);
  FrameSink sink;
  SocketNotifications notifications(sink);
  FrameTimers timers(sink);
  ASSERT_TRUE(notifications.SelectSocketEvents(connection.local.get(), FD_READ | FD_CLOSE));
  BoxDriver driver([&](QMessageBox&) {
    platform_test::Send(connection.peer.get(), "request");
    timers.SetTimer(1, 20);
  });

  EXPECT_EQ(MessageBox(kText, kCaption, MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_FALSE(driver.TimedOut());
  EXPECT_GT(sink.reads, 0);
  EXPECT_GT(sink.ticks, 0);
}

TEST(MessageBoxLoopTest, ClosingTheBoxDoesNotEndTheApplication) {
  // The agent's hidden frame is no window, so the box is the last one to close.
  const bool quitBefore = QGuiApplication::quitOnLastWindowClosed();
  QGuiApplication::setQuitOnLastWindowClosed(true);
  BoxDriver driver([](QMessageBox& box) { Click(box, QMessageBox::Ok); });
  QObject scope;
  int answer = 0;
  QTimer::singleShot(0, &scope, [&] {
    answer = MessageBox(u"Done.", kCaption, MB_OK);
    QTimer::singleShot(100, &scope, [] { QCoreApplication::exit(42); });
  });

  EXPECT_EQ(QCoreApplication::exec(), 42);
  EXPECT_EQ(answer, IDOK);
  QGuiApplication::setQuitOnLastWindowClosed(quitBefore);
}

}  // namespace
}  // namespace platform
