// The real main frame on a free test port, with a private HOME, served by the test's event loop
// while real TLS clients talk to it from another thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "agent/shell/capi_ostrabel_app.h"
#include "agent/shell/main_frame.h"
#include "support/event_loop.h"
#include "support/temp_home.h"
#include "support/tls_client.h"

// A frame that records the request lines handed on, and can run a test's own handling instead.
class RecordingFrame : public CMainFrame {
 public:
  using CMainFrame::CMainFrame;
  void HandRequestOn(SSL* connection, ValueBuffer& requestLine) override {
    handedOn.emplace_back(requestLine.Chars() ? requestLine.Chars() : "");
    if (handler) {
      handler(connection, requestLine);
    } else {
      CMainFrame::HandRequestOn(connection, requestLine);
    }
  }
  std::vector<std::string> handedOn;
  std::function<void(SSL*, ValueBuffer&)> handler;
};

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs `client` on its own thread while this thread serves; returns its result.
  template <typename F>
  auto WithClient(F client, int timeoutMs = 15000) {
    auto result = std::async(std::launch::async, std::move(client));
    testing_support::RunEventsUntil(
        [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        timeoutMs);
    return result.get();
  }

  // The log entries from `from` on, each without its time stamp ("- name = value", ...).
  std::vector<std::string> LogFrom(size_t from = 0) const;
  // The value logged under `name` (" - name = value"), the last one seen; empty when none.
  std::string LoggedValue(const std::string& name) const;
  size_t LogSize() const { return frame->LogLines.size(); }

  testing_support::TempHome home;
  CCapiOstrabelApp app;
  std::unique_ptr<RecordingFrame> frame;
  int port = 0;
};
