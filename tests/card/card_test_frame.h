// A bridge frame for calling card methods without an endpoint: the log is kept in memory, and a
// connection that is in no connection table, so an answer is only logged, never written.
#pragma once

#include <openssl/ssl.h>

#include <string>
#include <vector>

#include "agent/bridge/bridge_host.h"
#include "platform/text_conversion.h"

namespace card_test {

class KeepingLogView : public LogView {
 public:
  bool IsClearEnabled() const override { return true; }
  void EnableClear() override {}
  void EntriesChanged(const std::deque<std::u16string>&) override {}
};

class NoSocketEvents : public platform::SocketEventSource {
 public:
  bool SelectSocketEvents(int, int) override { return true; }
};

class TestFrame : public BridgeHost {
 public:
  TestFrame() {
    LogViewer = &view_;
    LogLineLimit = 100000;
    context_ = SSL_CTX_new(TLS_method());
    connection_ = SSL_new(context_);
  }
  ~TestFrame() override {
    SSL_free(connection_);
    SSL_CTX_free(context_);
  }
  TestFrame(const TestFrame&) = delete;
  TestFrame& operator=(const TestFrame&) = delete;

  platform::SocketEventSource& SocketEvents() override { return events_; }
  void HandRequestOn(SSL*, ValueBuffer&) override {}

  SSL* connection() const { return connection_; }

  // The log entries as UTF-8 without their timestamps and line ends ("name = value").
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const std::u16string& entry : LogLines) {
      std::string line = platform::WideToUtf8(entry);
      if (line.starts_with("[") && line.find("] - ") != std::string::npos) {
        line.erase(0, line.find("] - ") + 4);
      }
      if (line.ends_with("\r\n")) {
        line.resize(line.size() - 2);
      }
      lines.push_back(line);
    }
    return lines;
  }

  // The body of the last answer, as the response writer logged it; empty when none was made.
  std::string LastAnswer() const {
    const std::string prefix = "執行結果 = ||";
    const std::vector<std::string> lines = Lines();
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
      if (line->starts_with(prefix)) {
        return line->substr(prefix.size() - 2);
      }
    }
    return {};
  }

 private:
  KeepingLogView view_;
  NoSocketEvents events_;
  SSL_CTX* context_ = nullptr;
  SSL* connection_ = nullptr;
};

}  // namespace card_test
