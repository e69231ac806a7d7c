#include "agent/shell/capi_ostrabel_app.h"

#include <QApplication>

#include "agent/shell/main_frame.h"
#include "platform/process_start.h"
#include "platform/program_path.h"

CCapiOstrabelApp::CCapiOstrabelApp() : StartProcess(platform::StartCommandLine) {}

CCapiOstrabelApp::~CCapiOstrabelApp() = default;

bool CCapiOstrabelApp::TakeInstanceLock() {
  // Named after the program file: a copy under another name is another program.
  return InstanceMutex.Acquire(platform::ProgramFileName(), LockFolder) ==
         platform::InstanceLock::Result::kAcquired;
}

bool CCapiOstrabelApp::InitInstance() {
  frame_ = std::make_unique<CMainFrame>(*this);
  return frame_->OnCreate();
}

void CCapiOstrabelApp::DestroyFrame() {
  if (frame_) {
    frame_->OnDestroy();
    frame_.reset();
  }
}

int CCapiOstrabelApp::ExitInstance() {
  // The lock goes first, so the new instance is never refused by this one.
  InstanceMutex.Release();
  if (RestartOnExit) {
    StartProcess(platform::QuoteSpaces(platform::ProgramPath()));
  }
  return 0;
}

int CCapiOstrabelApp::Run(int argc, char** argv) {
  if (!TakeInstanceLock()) {
    return 0;
  }
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);  // closing a dialog never ends the agent
  QGuiApplication::setDesktopFileName(kAppId);
  const bool started = InitInstance();
  if (started) {
    QApplication::exec();
  }
  DestroyFrame();
  const int result = ExitInstance();
  return started ? result : 1;
}
