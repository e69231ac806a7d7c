// The listening socket, accepting and closing connections, and the endpoint's shut-down.
#pragma once

#include <cstdint>

#include "agent/endpoint/endpoint_host.h"

// Listens on 127.0.0.1:port; sets ListenSocket. Every step is logged.
bool StartListener(EndpointHost& frame, int32_t port);
// Tries ListenPort, then the two ports after it; ListenPort is the port tried last.
bool OpenListener(EndpointHost& frame);

// The socket events of the endpoint: FD_ACCEPT, FD_READ, FD_WRITE and FD_CLOSE.
void HandleSocketEvent(EndpointHost& frame, int socket, int event);

void AcceptConnection(EndpointHost& frame, int listenSocket);
// The peer closed: the record of `socket` is closed and removed.
void CloseConnection(EndpointHost& frame, int socket);
// Closes and removes the record now, or, while it is busy, as soon as it no longer is.
void RequestClose(EndpointHost& frame, ConnectionRecord* record);

// Keeps a record alive for the scope of a handler; carries out a close asked for meanwhile.
class ConnectionUse {
 public:
  ConnectionUse(EndpointHost& frame, ConnectionRecord* record);
  ~ConnectionUse();
  ConnectionUse(const ConnectionUse&) = delete;
  ConnectionUse& operator=(const ConnectionUse&) = delete;

 private:
  EndpointHost& frame_;
  ConnectionRecord* record_;
};

// Closes every connection and the listener.
void CloseEndpoint(EndpointHost& frame);
