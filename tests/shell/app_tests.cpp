// The application object and the frame's life: single instance, restart, start-up and commands.
#include <fstream>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "agent/log/show_log_dialog.h"
#include "agent/shell/commands.h"
#include "frame_fixture.h"
#include "platform/instance_lock.h"
#include "platform/process_start.h"
#include "platform/program_path.h"

namespace {

struct SeenBox {
  QString text, caption;
};

// Presses `button` on the next message box that opens; `seen` gets its text and caption.
void AnswerNextMessageBox(QMessageBox::StandardButton button, SeenBox* seen = nullptr) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, button, seen] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      if (seen) {
        *seen = {box->text(), box->windowTitle()};
      }
      box->button(button)->click();
    }
  });
  poll->start();
}

}  // namespace

TEST(Application, aSecondInstanceIsRefusedUntilTheFirstReleasesItsLock) {
  testing_support::TempHome home;
  CCapiOstrabelApp first, second;
  first.LockFolder = second.LockFolder = home.runtime();
  ASSERT_TRUE(first.TakeInstanceLock());
  EXPECT_FALSE(second.TakeInstanceLock());
  first.ExitInstance();
  EXPECT_TRUE(second.TakeInstanceLock());
}

TEST(Application, restartStartsExactlyOneProcessAfterTheLockIsGone) {
  testing_support::TempHome home;
  CCapiOstrabelApp app;
  app.LockFolder = home.runtime();
  ASSERT_TRUE(app.TakeInstanceLock());
  std::vector<std::string> started;
  bool lockFreeAtStart = false;
  app.StartProcess = [&](const std::string& commandLine) {
    started.push_back(commandLine);
    platform::InstanceLock probe;
    lockFreeAtStart = probe.Acquire(platform::ProgramFileName(), home.runtime()) ==
                      platform::InstanceLock::Result::kAcquired;
    return true;
  };
  app.ExitInstance();
  EXPECT_TRUE(started.empty());  // no restart asked for

  ASSERT_TRUE(app.TakeInstanceLock());
  app.RestartOnExit = true;
  app.ExitInstance();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], platform::QuoteSpaces(platform::ProgramPath()));
  EXPECT_EQ(platform::SplitCommandLine(started[0]),
            std::vector<std::string>{platform::ProgramPath()});  // no arguments
  EXPECT_TRUE(lockFreeAtStart);
}

TEST(Application, theProgramPathIsQuotedWhenItHoldsSpaces) {
  EXPECT_EQ(platform::QuoteSpaces("/opt/card agent/DorvikaOstrabel"),
            "\"/opt/card agent/DorvikaOstrabel\"");
  EXPECT_EQ(platform::SplitCommandLine("\"/opt/card agent/DorvikaOstrabel\""),
            std::vector<std::string>{"/opt/card agent/DorvikaOstrabel"});
}

TEST(MainFrame, constructionRemovesLeftoverCopiesAndStartsFromTheDefaults) {
  testing_support::TempHome home;
  for (const char* name : {"OSTRABEL.dll-test", "OSTRABEL.dll-1a2b", "keep.dll"}) {
    std::ofstream(home.tmp() + name) << "x";
  }
  CCapiOstrabelApp app;
  CMainFrame frame(app);
  EXPECT_FALSE(std::ifstream(home.tmp() + "OSTRABEL.dll-test").good());
  EXPECT_FALSE(std::ifstream(home.tmp() + "OSTRABEL.dll-1a2b").good());
  EXPECT_TRUE(std::ifstream(home.tmp() + "keep.dll").good());
  EXPECT_EQ(frame.TempDirectory, home.tmp());
  EXPECT_EQ(frame.ListenPort, 64001);
  EXPECT_EQ(frame.LogLineLimit, 100);
  EXPECT_EQ(frame.ServiceWaitMinutes, 30);
  EXPECT_EQ(frame.LogViewer, nullptr);  // nothing is kept before the window exists
}

TEST_F(FrameTest, startUpKeepsTheCredentialsAndStartsTheTimers) {
  EXPECT_EQ(frame->AgentDirectory, platform::ProgramFolder());
  EXPECT_GT(frame->ServerCertificateSize, 0);
  EXPECT_EQ(frame->ServerCertificate.size(), size_t(frame->ServerCertificateSize) + 2);
  EXPECT_EQ(frame->ServerCertificate.back(), 0);
  EXPECT_TRUE(frame->Timers().IsRunning(IDT_IDLE_SWEEP));
  EXPECT_EQ(frame->ListenPort, port);
  EXPECT_NE(frame->LogViewer, nullptr);
  EXPECT_FALSE(frame->LogViewerDialog()->isVisible());
}

TEST_F(FrameTest, theListenerMovesOnWhenItsPortIsTaken) {
  // This frame holds `port`; a second frame asked for the same port takes the next one.
  RecordingFrame second(app);
  second.ListenPort = port;
  ASSERT_TRUE(second.OnCreate());
  EXPECT_EQ(second.ListenPort, port + 1);

  RecordingFrame third(app);
  third.ListenPort = port;
  ASSERT_TRUE(third.OnCreate());
  EXPECT_EQ(third.ListenPort, port + 2);

  RecordingFrame fourth(app);
  fourth.ListenPort = port;
  EXPECT_FALSE(fourth.OnCreate());
  EXPECT_EQ(fourth.ListenPort, port + 2);
}

TEST_F(FrameTest, restartAndExitAskFirst) {
  SeenBox restart, exit;
  AnswerNextMessageBox(QMessageBox::No, &restart);
  frame->OnCommand(ID_APP_RESTART);
  EXPECT_FALSE(app.RestartOnExit);
  EXPECT_EQ(restart.caption, QString::fromUtf8("重新啟動"));
  EXPECT_EQ(restart.text,
            QString::fromUtf8("注意 !\n執行中網頁(或程式), 將無法繼續作業, 需要重新進入網頁, "
                              "才能繼續, 確定要重新啟動嗎?"));
  AnswerNextMessageBox(QMessageBox::No, &exit);
  frame->OnCommand(ID_APP_EXIT);
  EXPECT_EQ(exit.caption, QString::fromUtf8("結束"));
  EXPECT_EQ(exit.text, QString::fromUtf8("注意 !\n執行中網頁(或程式), 將無法作業, 確定要結束嗎?"));

  // A confirmed command ends the application's message loop, as it does in the program.
  AnswerNextMessageBox(QMessageBox::Yes);
  QTimer::singleShot(0, [&] { frame->OnCommand(ID_APP_RESTART); });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_TRUE(app.RestartOnExit);

  app.RestartOnExit = false;
  AnswerNextMessageBox(QMessageBox::Yes);
  QTimer::singleShot(0, [&] { frame->OnCommand(ID_APP_EXIT); });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(app.RestartOnExit);
}

TEST_F(FrameTest, showLogShowsTheViewerWithEverythingLoggedSoFar) {
  frame->OnCommand(ID_SHOW_LOG);
  EXPECT_TRUE(frame->LogViewerDialog()->isVisible());
}
