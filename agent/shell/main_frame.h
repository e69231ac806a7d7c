// CMainFrame: the agent's hidden main frame. It owns the state of every subsystem, receives the
// socket and timer events and the menu commands, and runs the start-up and shut-down order.
#pragma once

#include <memory>

#include "agent/bridge/bridge_host.h"
#include "platform/frame_timers.h"
#include "platform/socket_notifications.h"

class CCapiOstrabelApp;
class CShowLogDialog;

class CMainFrame : public BridgeHost, public platform::SocketEventSink, public platform::TimerSink {
 public:
  // Construction: defaults, temporary folder, leftover copies, TLS library, browser trust.
  explicit CMainFrame(CCapiOstrabelApp& app);
  ~CMainFrame() override;
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  // The start-up sequence; false ends the program.
  bool OnCreate();
  // The window's shut-down: the endpoint is closed. Runs once.
  void OnDestroy();

  void OnSocketEvent(int socket, int event) override;
  void OnTimer(int id) override;
  // A menu command (from the tray icon's menu).
  void OnCommand(int id);
  void OnRestartCommand();
  void OnExitCommand();
  void OnShowLogCommand();

  platform::SocketEventSource& SocketEvents() override { return sockets_; }
  void HandRequestOn(SSL* connection, ValueBuffer& requestLine) override;
  std::string TextForLog(std::string_view request) override;

  CShowLogDialog* LogViewerDialog() { return logViewer_.get(); }
  platform::FrameTimers& Timers() { return timers_; }

 private:
  // Ends the message loop; the window and the frame are destroyed after it has unwound.
  void CloseFrame();

  CCapiOstrabelApp& app_;
  platform::SocketNotifications sockets_{*this};
  platform::FrameTimers timers_{*this};
  std::unique_ptr<CShowLogDialog> logViewer_;
  bool destroyed_ = false;
};
