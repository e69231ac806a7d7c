// Writing answers: the fixed header block, the Content-Length line and the body
// "||code||text||". What the socket cannot take at once waits with its connection.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "agent/endpoint/endpoint_host.h"

// The seven header lines every answer starts with (243 bytes).
extern const std::string_view kResponseHeaderBlock;

// Answers on `connection` with `code` and the narrow text (null or empty: "null"). Writes
// nothing when there is no connection or its peer has gone.
void SendResponse(SSL* connection, const char* text, EndpointHost& frame, int32_t code);
// The same with a UTF-16 text, sent as UTF-8.
void SendTextResponse(EndpointHost& frame, SSL* connection, int32_t code, std::u16string text);

// The whole response for a body, as SendResponse writes it.
std::string BuildResponse(int32_t code, const char* text);

// Writes what waits for the socket, as far as it takes it.
void FlushOutput(EndpointHost& frame, ConnectionRecord& record);
// FD_WRITE: the socket can take more.
void OnConnectionWritable(EndpointHost& frame, int socket);
// True while so much output waits that reading more requests would only pile up answers.
bool IsOutputBlocked(const ConnectionRecord& record);
bool HasOutput(const ConnectionRecord& record);
// Asks for the socket events the record's state needs (read, write, or both).
void UpdateSocketEvents(EndpointHost& frame, ConnectionRecord& record);
// Ends the connection once its output is written: TLS closure, half-close, then whatever the
// peer still sends is discarded until it closes.
void CloseAfterOutput(EndpointHost& frame, ConnectionRecord& record);
