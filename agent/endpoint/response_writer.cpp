#include "agent/endpoint/response_writer.h"

#include <sys/socket.h>

#include <openssl/err.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "agent/endpoint/listener.h"
#include "agent/endpoint/request_reader.h"
#include "agent/log/log_writer.h"
#include "platform/text_conversion.h"
#include "platform/tick_counter.h"

const std::string_view kResponseHeaderBlock =
    "HTTP/1.0 200 OK\r\n"
    "Server: Apache/2.0.61 (Unix)\r\n"
    "Access-Control-Allow-Origin: * \r\n"
    "Access-Control-Allow-Methods: POST, GET, OPTIONS\r\n"
    "Access-Control-Allow-Headers: X-PINGOTHER\r\n"
    "Access-Control-Allow-Private-Network: true\r\n"
    "Content-Type: text/plain\r\n";

namespace {

constexpr size_t kChunkSize = 16384;
constexpr size_t kLogLimit = 32768;
constexpr size_t kOutputHighWater = 1024 * 1024;
constexpr size_t kKeptOutputCapacity = 64 * 1024;
const char kTooLargeToShow[] = "資料量大於 32768, 影響效能, 不予顯示";

void QueueOutput(EndpointHost& frame, ConnectionRecord& record, const std::string& response) {
  if (!HasOutput(record)) {
    record.output.clear();
    record.outputSent = 0;
    record.responseStart = 0;
    record.lastOutputTick = platform::GetTickCount();
  }
  record.output += response;
  record.responseEnds.push_back(record.output.size());
  FlushOutput(frame, record);
}

// Logs the written total of every response whose last byte has gone out.
void LogFinishedResponses(EndpointHost& frame, ConnectionRecord& record) {
  while (!record.responseEnds.empty() && record.outputSent >= record.responseEnds.front()) {
    LogNumber(frame, "SSL_write() 共寫入(Bytes)",
              static_cast<int32_t>(record.responseEnds.front() - record.responseStart));
    record.responseStart = record.responseEnds.front();
    record.responseEnds.pop_front();
  }
}

void DropOutput(ConnectionRecord& record) {
  record.output.clear();
  if (record.output.capacity() > kKeptOutputCapacity) {
    record.output.shrink_to_fit();  // a large answer's buffer is not kept for the next one
  }
  record.outputSent = 0;
  record.responseStart = 0;
  record.responseEnds.clear();
  record.pendingChunk = 0;
}

void BeginDrain(EndpointHost& frame, ConnectionRecord& record) {
  ERR_clear_error();
  SSL_shutdown(record.connection);  // our closure alert; the peer's is not waited for
  shutdown(record.socket, SHUT_WR);
  record.draining = true;
  record.drainStartTick = platform::GetTickCount();
  UpdateSocketEvents(frame, record);
}

}  // namespace

bool HasOutput(const ConnectionRecord& record) {
  return record.outputSent < record.output.size();
}

bool IsOutputBlocked(const ConnectionRecord& record) {
  return record.output.size() - record.outputSent > kOutputHighWater;
}

void UpdateSocketEvents(EndpointHost& frame, ConnectionRecord& record) {
  int events = 0;
  if (!record.closePending) {
    if (record.draining || !IsOutputBlocked(record)) {
      events |= platform::FD_READ | platform::FD_CLOSE;
    }
    if (!record.draining && (HasOutput(record) || record.readWantsWrite)) {
      events |= platform::FD_WRITE;
    }
  }
  if (events != record.selectedEvents) {
    record.selectedEvents = events;
    frame.SocketEvents().SelectSocketEvents(record.socket, events);
  }
}

std::string BuildResponse(int32_t code, const char* text) {
  const char* shown = text != nullptr && *text != '\0' ? text : "null";
  std::string body = "||" + std::to_string(code) + "||" + shown + "||";
  char lengthLine[64];
  std::snprintf(lengthLine, sizeof lengthLine, "Content-Length: %d\r\n\r\n",
                static_cast<int>(body.size()));
  std::string response;
  response.reserve(kResponseHeaderBlock.size() + std::strlen(lengthLine) + body.size());
  response.append(kResponseHeaderBlock).append(lengthLine).append(body);
  return response;
}

void SendResponse(SSL* connection, const char* text, EndpointHost& frame, int32_t code) {
  if (connection == nullptr) {
    return;
  }
  const std::string response = BuildResponse(code, text);
  const char* body = response.c_str() + response.find("\r\n\r\n") + 4;
  const size_t bodyLength = response.size() - static_cast<size_t>(body - response.c_str());
  LogValue(frame, "執行結果", bodyLength > kLogLimit ? kTooLargeToShow : body);
  LogValue(frame, "SSL 返回內容", response.size() > kLogLimit ? kTooLargeToShow : response.c_str());
  LogNumber(frame, "SSL_write length", static_cast<int32_t>(response.size()));

  ConnectionRecord* record = FindConnection(frame.ConnectionTable, connection);
  if (record == nullptr || record->closePending || record->draining) {
    // The peer went while the answer was being made: nothing to write it to.
    LogNumber(frame, "SSL_write() 共寫入(Bytes)", 0);
    return;
  }
  QueueOutput(frame, *record, response);
}

void SendTextResponse(EndpointHost& frame, SSL* connection, int32_t code, std::u16string text) {
  const size_t end = std::min(text.find(u'\0'), text.size());
  const std::string converted = platform::WideToUtf8(std::u16string_view(text).substr(0, end));
  SendResponse(connection, converted.c_str(), frame, code);
}

void FlushOutput(EndpointHost& frame, ConnectionRecord& record) {
  while (HasOutput(record)) {
    const int chunk =
        record.pendingChunk != 0
            ? record.pendingChunk
            : static_cast<int>(std::min(kChunkSize, record.output.size() - record.outputSent));
    ERR_clear_error();
    const int written =
        SSL_write(record.connection, record.output.data() + record.outputSent, chunk);
    if (written > 0) {
      record.pendingChunk = 0;
      record.outputSent += static_cast<size_t>(written);
      record.lastOutputTick = platform::GetTickCount();
      LogFinishedResponses(frame, record);
      continue;
    }
    const int error = SSL_get_error(record.connection, written);
    if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) {
      record.pendingChunk = chunk;  // must be repeated with the same length
      UpdateSocketEvents(frame, record);
      return;
    }
    // The connection is broken: say how far the current response got, then end it.
    LogNumber(frame, "SSL_write() 共寫入(Bytes)",
              static_cast<int32_t>(record.outputSent - record.responseStart));
    DropOutput(record);
    RequestClose(frame, &record);
    return;
  }
  DropOutput(record);
  if (record.closeAfterOutput && !record.draining) {
    BeginDrain(frame, record);
    return;
  }
  UpdateSocketEvents(frame, record);
}

void OnConnectionWritable(EndpointHost& frame, int socket) {
  ConnectionRecord* record = FindConnection(frame.ConnectionTable, socket);
  if (record == nullptr || record->closePending) {
    return;
  }
  ConnectionUse use(frame, record);
  const bool wasBlocked = IsOutputBlocked(*record);
  FlushOutput(frame, *record);
  if (record->closePending || record->draining) {
    return;
  }
  if (record->readWantsWrite || (wasBlocked && !IsOutputBlocked(*record))) {
    // Reading waited for the socket: go on with what is buffered or has arrived.
    ReadRequest(frame, socket);
  }
}

void CloseAfterOutput(EndpointHost& frame, ConnectionRecord& record) {
  record.closeAfterOutput = true;
  if (!HasOutput(record) && !record.closePending) {
    BeginDrain(frame, record);
  }
}
