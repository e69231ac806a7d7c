// What the endpoint keeps in the main frame, and what it needs of it.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agent/endpoint/connection_record.h"
#include "agent/endpoint/value_buffer.h"
#include "agent/log/log_store.h"
#include "platform/socket_events.h"

struct EndpointState {
  std::vector<uint8_t> ServerCertificate;  // resource 314, followed by two zero bytes
  std::vector<uint8_t> ServerPrivateKey;   // resource 315, followed by two zero bytes
  int32_t ServerCertificateSize = 0;
  int32_t ServerPrivateKeySize = 0;
  SSL_CTX* ServerContext = nullptr;
  ConnectionList ConnectionTable;  // in accept order
  int32_t ListenPort = 64001;
  int ListenSocket = -1;      // -1: none (0 is a valid descriptor here)
  bool AcceptPaused = false;  // after a failed accept, until the next connection sweep
};

// The main frame as the endpoint sees it: the log, the endpoint's state, the socket events and
// the hand-over of request lines.
class EndpointHost : public LogStore, public EndpointState {
 public:
  virtual ~EndpointHost() = default;
  virtual platform::SocketEventSource& SocketEvents() = 0;
  // Passes a request line on to the dispatcher, which answers it.
  virtual void HandRequestOn(SSL* connection, ValueBuffer& requestLine) = 0;
  // The request text or line as it may appear in the log (secrets masked).
  virtual std::string TextForLog(std::string_view request) { return std::string(request); }
};
