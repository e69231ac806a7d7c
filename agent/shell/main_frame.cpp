#include "agent/shell/main_frame.h"

#include <QCoreApplication>

#include "agent/bridge/dispatch.h"
#include "agent/bridge/idle_modules.h"
#include "agent/bridge/pin_mask.h"
#include "agent/endpoint/connection_sweep.h"
#include "agent/endpoint/listener.h"
#include "agent/endpoint/tls_context.h"
#include "agent/log/show_log_dialog.h"
#include "agent/resources/builtin_resources.h"
#include "agent/shell/capi_ostrabel_app.h"
#include "agent/shell/commands.h"
#include "agent/shell/leftover_copies.h"
#include "agent/trust/firefox_trust.h"
#include "platform/message_box.h"
#include "platform/program_path.h"
#include "platform/temp_folder.h"

namespace {

// A copy of a built-in resource followed by two zero bytes; empty when it is missing.
int32_t CopyResource(int id, std::vector<uint8_t>& buffer) {
  const auto resource = FindBinaryResource("LOCALHOST", id);
  buffer.assign(resource.begin(), resource.end());
  buffer.resize(resource.size() + 2, 0);
  return static_cast<int32_t>(resource.size());
}

bool Confirm(const char16_t* text, const char16_t* caption) {
  return platform::MessageBox(text, caption, platform::MB_YESNO | platform::MB_ICONQUESTION) ==
         platform::IDYES;
}

}  // namespace

CMainFrame::CMainFrame(CCapiOstrabelApp& app) : app_(app) {
  TempDirectory = platform::UserTempFolder();
  DeleteLeftoverCopies(TempDirectory);
  InitializeTlsLibrary();
  ImportFirefoxTrust();
}

CMainFrame::~CMainFrame() {
  OnDestroy();
  ServerCertificate.clear();
  ServerPrivateKey.clear();
  // Loaded modules stay loaded until the process ends; their copies go at the next start.
  PluginTable.clear();
  LogViewer = nullptr;
  logViewer_.reset();
  ReleaseServerContext(*this);
  ReleaseTlsLibrary();
}

bool CMainFrame::OnCreate() {
  AgentDirectory = platform::ProgramFolder();
  ServerCertificateSize = CopyResource(314, ServerCertificate);
  Sha256Digest(VerificationList.VerificationSalt, ServerCertificate.data(),
               static_cast<size_t>(ServerCertificateSize));
  ServerPrivateKeySize = CopyResource(315, ServerPrivateKey);

  logViewer_ = std::make_unique<CShowLogDialog>(nullptr);
  LogViewer = logViewer_.get();

  if (!CreateServerContext(*this) || !OpenListener(*this)) {
    return false;
  }
  timers_.SetTimer(IDT_IDLE_SWEEP, kIdleSweepPeriodMs);
  timers_.SetTimer(IDT_CONNECTION_SWEEP, kConnectionSweepPeriodMs);
  return true;
}

void CMainFrame::OnDestroy() {
  if (destroyed_) {
    return;
  }
  destroyed_ = true;
  timers_.KillTimer(IDT_IDLE_SWEEP);
  timers_.KillTimer(IDT_CONNECTION_SWEEP);
  CloseEndpoint(*this);
}

void CMainFrame::OnSocketEvent(int socket, int event) {
  HandleSocketEvent(*this, socket, event);
}

void CMainFrame::OnTimer(int id) {
  if (id == IDT_IDLE_SWEEP) {
    ExpireIdleModules(*this);
  } else if (id == IDT_CONNECTION_SWEEP) {
    SweepConnections(*this);
  }
}

void CMainFrame::OnCommand(int id) {
  switch (id) {
    case ID_APP_RESTART:
      OnRestartCommand();
      break;
    case ID_APP_EXIT:
      OnExitCommand();
      break;
    case ID_SHOW_LOG:
      OnShowLogCommand();
      break;
    default:
      break;
  }
}

void CMainFrame::OnRestartCommand() {
  if (Confirm(u"注意 !\n執行中網頁(或程式), 將無法繼續作業, 需要重新進入網頁, 才能繼續, "
              u"確定要重新啟動嗎?",
              u"重新啟動")) {
    app_.RestartOnExit = true;
    CloseFrame();
  }
}

void CMainFrame::OnExitCommand() {
  if (Confirm(u"注意 !\n執行中網頁(或程式), 將無法作業, 確定要結束嗎?", u"結束")) {
    CloseFrame();
  }
}

void CMainFrame::OnShowLogCommand() {
  if (logViewer_) {
    logViewer_->ShowLog();
  }
}

void CMainFrame::HandRequestOn(SSL* connection, ValueBuffer& requestLine) {
  DispatchRequest(connection, requestLine, *this);
}

std::string CMainFrame::TextForLog(std::string_view request) {
  return MaskPinsInRequestText(request);
}

void CMainFrame::CloseFrame() {
  // Every loop exits, nested ones included; the endpoint is closed only once the handlers that
  // may still use its connections have returned.
  QCoreApplication::exit(0);
}
