// CCapiOstrabelApp: one instance per user, the hidden main frame, restart on request.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/instance_lock.h"

class CMainFrame;

class CCapiOstrabelApp {
 public:
  CCapiOstrabelApp();
  ~CCapiOstrabelApp();

  // Runs the whole life of the program: single-instance test, the application, the frame, the
  // message loop, the shut-down and the restart. Returns the process's exit code.
  int Run(int argc, char** argv);

  // False when another instance holds the program's lock (the process then ends silently).
  bool TakeInstanceLock();
  // Constructs and creates the frame; false when that failed.
  bool InitInstance();
  // After the message loop: the frame's window and object are destroyed.
  void DestroyFrame();
  // Releases the lock and, when asked for, starts the program again.
  int ExitInstance();

  CMainFrame* MainFrame() { return frame_.get(); }

  bool RestartOnExit = false;
  platform::InstanceLock InstanceMutex;
  // Where the lock file lives; empty for the user's runtime folder.
  std::string LockFolder;
  // Starts the new process of a restart from its command line.
  std::function<bool(const std::string&)> StartProcess;

  static constexpr const char* kAppId = "CapiOstrabel.AppID.NoVersion";

 private:
  std::unique_ptr<CMainFrame> frame_;
};
