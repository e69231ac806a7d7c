#include "agent/endpoint/request_reader.h"

#include <sys/socket.h>

#include <openssl/err.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "agent/endpoint/listener.h"
#include "agent/endpoint/request_framing.h"
#include "agent/endpoint/request_line.h"
#include "agent/endpoint/response_writer.h"
#include "agent/log/log_writer.h"
#include "platform/tick_counter.h"

namespace {

constexpr int kReadSize = 4096;
constexpr size_t kWholeLogLimit = 32768;
constexpr size_t kShortLogLength = 16000;

enum class ReadOutcome { kReady, kWait, kFailed };

// Reads what the connection has until the request at the front of its input is complete (or
// too large). Never waits.
ReadOutcome ReadAvailable(EndpointHost& frame, ConnectionRecord& record, RequestFraming& framing) {
  char chunk[kReadSize];
  for (;;) {
    ERR_clear_error();
    const int count = SSL_read(record.connection, chunk, kReadSize);
    if (count > 0) {
      if (record.input.empty()) {
        record.firstInputTick = platform::GetTickCount();
      }
      record.input.append(chunk, static_cast<size_t>(count));
      framing = FrameRequest(record.input);
      if (framing.status != RequestFraming::Status::kIncomplete) {
        return ReadOutcome::kReady;
      }
      continue;
    }
    switch (SSL_get_error(record.connection, count)) {
      case SSL_ERROR_WANT_READ:
      case SSL_ERROR_ZERO_RETURN:  // the peer's close follows as its own event
        return ReadOutcome::kWait;
      case SSL_ERROR_WANT_WRITE:
        record.readWantsWrite = true;
        UpdateSocketEvents(frame, record);
        return ReadOutcome::kWait;
      default:
        return ReadOutcome::kFailed;
    }
  }
}

void LogRequestData(EndpointHost& frame, const std::string& request) {
  if (request.size() <= kWholeLogLimit) {
    LogValue(frame, "SSL_read() Data", frame.TextForLog(request).c_str());
    return;
  }
  // Masked before it is cut, so nothing secret survives in the part that is kept.
  std::string shortened = frame.TextForLog(request);
  shortened.resize(std::min({shortened.size(), kShortLogLength, shortened.find('\0')}));
  shortened += " ... more ..., 影響效能, 不予顯示";
  LogValue(frame, "SSL_read() Data", shortened.c_str());
}

void ServeRequest(EndpointHost& frame, ConnectionRecord& record, size_t length) {
  const std::string request = record.input.substr(0, length);
  record.input.erase(0, length);
  if (!record.input.empty()) {
    record.firstInputTick = platform::GetTickCount();  // the next request has begun
  }
  LogValue(frame, "SSL cipher", SSL_CIPHER_get_name(SSL_get_current_cipher(record.connection)));
  LogNumber(frame, "SSL_read() length", static_cast<int32_t>(length));
  LogRequestData(frame, request);

  const RequestLine found = FindRequestLine(request);
  if (found.kind == RequestLine::Kind::kPreflight) {
    SendTextResponse(frame, record.connection, -1, u"OKK");
    return;
  }
  // A request without a request line is handed on empty and answered as malformed.
  const std::string_view line = WithoutProtocol(found.line);
  ValueBuffer requestLine;
  requestLine.AppendBytes(line.data(), static_cast<int32_t>(line.size()));
  LogValue(frame, "SSL_read() Data", frame.TextForLog(line).c_str());
  frame.HandRequestOn(record.connection, requestLine);
}

void RefuseOversizedRequest(EndpointHost& frame, ConnectionRecord& record) {
  LogErrorNumber(frame, "Request larger than 1 MiB, Socket", record.socket);
  record.input.clear();
  record.input.shrink_to_fit();
  SendTextResponse(frame, record.connection, -1, u"CGI內容錯誤");
  CloseAfterOutput(frame, record);
}

// Input that arrives after the connection was answered for the last time.
void DiscardInput(ConnectionRecord& record) {
  char chunk[kReadSize];
  while (recv(record.socket, chunk, sizeof chunk, MSG_DONTWAIT) > 0) {
  }
}

bool HasMoreInput(const ConnectionRecord& record) {
  // With read-ahead the library may hold whole records the socket no longer announces.
  return !record.input.empty() || SSL_has_pending(record.connection) == 1;
}

}  // namespace

void ReadRequest(EndpointHost& frame, int socket) {
  ConnectionRecord* record = FindConnection(frame.ConnectionTable, socket);
  if (record == nullptr || record->closePending) {
    return;
  }
  ConnectionUse use(frame, record);
  if (record->draining) {
    DiscardInput(*record);
    return;
  }
  if (record->readWantsWrite) {
    record->readWantsWrite = false;
    UpdateSocketEvents(frame, *record);
  }
  do {
    RequestFraming framing = FrameRequest(record->input);
    if (framing.status == RequestFraming::Status::kIncomplete) {
      const ReadOutcome outcome = ReadAvailable(frame, *record, framing);
      if (outcome == ReadOutcome::kFailed) {
        RequestClose(frame, record);
        return;
      }
      if (outcome == ReadOutcome::kWait) {
        return;
      }
    }
    if (framing.status == RequestFraming::Status::kTooLarge) {
      RefuseOversizedRequest(frame, *record);
      return;
    }
    ServeRequest(frame, *record, framing.length);
    // Pipelined requests already read are served now: no socket event would announce them.
  } while (!record->closePending && !record->closeAfterOutput && !IsOutputBlocked(*record) &&
           HasMoreInput(*record));
}
