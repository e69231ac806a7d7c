#include "agent/endpoint/connection_sweep.h"

#include <algorithm>
#include <vector>

#include "agent/endpoint/listener.h"
#include "agent/endpoint/request_framing.h"
#include "agent/endpoint/response_writer.h"
#include "agent/log/log_writer.h"
#include "platform/tick_counter.h"

namespace {

bool StillOpen(EndpointHost& frame, const ConnectionRecord* record) {
  return std::any_of(frame.ConnectionTable.begin(), frame.ConnectionTable.end(),
                     [record](const auto& r) { return r.get() == record; });
}

// The log text for a connection that has to go, or null when it may stay.
const char* StallReason(const ConnectionRecord& record, uint32_t now) {
  if (record.closePending) {
    return nullptr;
  }
  if (record.draining) {
    return now - record.drainStartTick >= kDrainTimeoutMs ? "" : nullptr;
  }
  if (HasOutput(record) && now - record.lastOutputTick >= kWriteTimeoutMs) {
    return "Client read nothing for 10 seconds, Socket";
  }
  if (!record.input.empty() && now - record.firstInputTick >= kRequestTimeoutMs &&
      FrameRequest(record.input).status == RequestFraming::Status::kIncomplete) {
    return "Request not complete within 10 seconds, Socket";
  }
  return nullptr;
}

}  // namespace

void SweepConnections(EndpointHost& frame) {
  if (frame.AcceptPaused && frame.ListenSocket >= 0) {
    frame.AcceptPaused = false;
    frame.SocketEvents().SelectSocketEvents(
        frame.ListenSocket, platform::FD_READ | platform::FD_ACCEPT | platform::FD_CLOSE);
  }
  const uint32_t now = platform::GetTickCount();
  std::vector<ConnectionRecord*> records;
  for (auto& record : frame.ConnectionTable) {
    records.push_back(record.get());
  }
  for (ConnectionRecord* record : records) {
    if (!StillOpen(frame, record)) {
      continue;
    }
    const char* reason = StallReason(*record, now);
    if (reason == nullptr) {
      continue;
    }
    if (*reason != '\0') {
      LogErrorNumber(frame, reason, record->socket);
    }
    RequestClose(frame, record);
  }
}
