#include "agent/endpoint/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "agent/endpoint/request_reader.h"
#include "agent/endpoint/response_writer.h"
#include "agent/log/log_writer.h"
#include "platform/socket_library.h"
#include "platform/tick_counter.h"

namespace {

constexpr int kListenEvents = platform::FD_READ | platform::FD_ACCEPT | platform::FD_CLOSE;
constexpr int kConnectionEvents = platform::FD_READ | platform::FD_CLOSE;

void SetTimeoutOption(EndpointHost& frame, int socket, int option, const char* name) {
  timeval timeout{0, 500 * 1000};
  char text[128];
  if (setsockopt(socket, SOL_SOCKET, option, &timeout, sizeof timeout) == 0) {
    std::snprintf(text, sizeof text, "%s : success!", name);
    LogMessage(frame, text);
  } else {
    LogErrorNumber(frame, name, 0);
  }
}

bool MakeNonBlocking(int socket) {
  const int flags = fcntl(socket, F_GETFL);
  return flags >= 0 && fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool BindLoopback(int socket, int32_t port) {
  // Connections the agent closed linger in TIME_WAIT on its port; a restarted agent must still
  // be able to bind it. This never lets two listeners share the port.
  const int one = 1;
  setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  return bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// An accept error that only means there was nothing to accept after all.
bool IsTransientAcceptError(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNABORTED;
}

}  // namespace

bool StartListener(EndpointHost& frame, int32_t port) {
  if (platform::WSAStartup() != 0) {
    LogError(frame, "WSAStartup fail(Winsock dll not found)");
    return false;
  }
  LogMessage(frame, "WSAStartup success");
  LogValue(frame, "wsaData.szSystemStatus", platform::SocketSystemStatus());

  frame.ListenSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  LogNumber(frame, "Creation socket port", port);
  if (frame.ListenSocket < 0) {
    LogErrorNumber(frame, "Socket creation failed : Critical Error", errno);
    return false;
  }
  LogMessage(frame, "Creation socket : success!");

  LogNumber(frame, "Bind socket port", port);
  if (!BindLoopback(frame.ListenSocket, port)) {
    LogErrorNumber(frame, "Unable to bind socket", errno);
    return false;
  }
  LogMessage(frame, "Bind socket : success!");

  SetTimeoutOption(frame, frame.ListenSocket, SO_RCVTIMEO, "setsockopt(SOL_SOCKET, SO_RCVTIMEO)");
  SetTimeoutOption(frame, frame.ListenSocket, SO_SNDTIMEO, "setsockopt(SOL_SOCKET, SO_SNDTIMEO)");

  if (!MakeNonBlocking(frame.ListenSocket) ||
      !frame.SocketEvents().SelectSocketEvents(frame.ListenSocket, kListenEvents)) {
    LogErrorNumber(frame, "WSAAsyncSelect failed : Critical Error", errno);
    return false;
  }
  if (listen(frame.ListenSocket, 10) != 0) {
    LogErrorNumber(frame, "Unable to listen", errno);
    return false;
  }
  return true;
}

bool OpenListener(EndpointHost& frame) {
  const int32_t first = frame.ListenPort;
  for (int32_t attempt = 0; attempt < 3; ++attempt) {
    frame.ListenPort = first + attempt;
    if (frame.ListenSocket >= 0) {
      // The socket of a failed attempt is not kept.
      frame.SocketEvents().SelectSocketEvents(frame.ListenSocket, 0);
      close(frame.ListenSocket);
      frame.ListenSocket = -1;
    }
    if (StartListener(frame, frame.ListenPort)) {
      return true;
    }
  }
  return false;
}

void HandleSocketEvent(EndpointHost& frame, int socket, int event) {
  switch (event & 0xFFFF) {
    case platform::FD_ACCEPT:
      AcceptConnection(frame, socket);
      break;
    case platform::FD_READ:
      ReadRequest(frame, socket);
      break;
    case platform::FD_WRITE:
      OnConnectionWritable(frame, socket);
      break;
    case platform::FD_CLOSE:
      CloseConnection(frame, socket);
      break;
    default:
      break;
  }
}

void AcceptConnection(EndpointHost& frame, int listenSocket) {
  sockaddr_in peer{};
  socklen_t peerSize = sizeof peer;
  const int socket = accept4(listenSocket, reinterpret_cast<sockaddr*>(&peer), &peerSize,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (socket < 0) {
    const int error = errno;
    if (!IsTransientAcceptError(error)) {
      // Keep serving, but stop the listener from waking us in a loop (a full descriptor
      // table, say) until the connection sweep lets it try again.
      LogErrorNumber(frame, "Invalid socket", error);
      frame.SocketEvents().SelectSocketEvents(listenSocket, 0);
      frame.AcceptPaused = true;
    }
    return;
  }
  char address[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
  char text[256] = {};
  std::snprintf(text, sizeof text, "%s:%d", address, frame.ListenPort);
  LogValue(frame, "Client connected IPv4, IP", text);

  SSL* connection = SSL_new(frame.ServerContext);
  if (connection == nullptr || SSL_set_fd(connection, socket) != 1) {
    LogError(frame, "SSL accept socket : FAIL");
    SSL_free(connection);
    close(socket);
    return;
  }
  SSL_set_accept_state(connection);  // the handshake runs inside the reads
  SSL_set_mode(connection, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_set_read_ahead(connection, 1);  // a record in one read, not its header and body apart
  const int one = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  LogNumber(frame, "SSL accept socket", socket);

  auto record = std::make_unique<ConnectionRecord>();
  record->socket = socket;
  record->connection = connection;
  record->serverContext = frame.ServerContext;
  frame.ConnectionTable.push_back(std::move(record));
  frame.SocketEvents().SelectSocketEvents(socket, kConnectionEvents);
}

namespace {

void CloseConnectionRecord(EndpointHost& frame, ConnectionRecord* record) {
  auto entry = std::find_if(frame.ConnectionTable.begin(), frame.ConnectionTable.end(),
                            [record](const auto& r) { return r.get() == record; });
  if (entry == frame.ConnectionTable.end()) {
    return;
  }
  const int socket = record->socket;
  frame.SocketEvents().SelectSocketEvents(socket, 0);
  close(socket);
  SSL_free(record->connection);
  record->connection = nullptr;
  LogNumber(frame, "Socket closed, Socket", socket);
  frame.ConnectionTable.erase(entry);
}

}  // namespace

void RequestClose(EndpointHost& frame, ConnectionRecord* record) {
  if (record->busy > 0) {
    // A handler further up the stack still uses the record and its TLS connection; it closes
    // the record when it is done, and nothing more is written meanwhile.
    frame.SocketEvents().SelectSocketEvents(record->socket, 0);
    record->closePending = true;
    return;
  }
  CloseConnectionRecord(frame, record);
}

ConnectionUse::ConnectionUse(EndpointHost& frame, ConnectionRecord* record)
    : frame_(frame), record_(record) {
  ++record_->busy;
}

ConnectionUse::~ConnectionUse() {
  if (--record_->busy == 0 && record_->closePending) {
    CloseConnectionRecord(frame_, record_);
  }
}

void CloseConnection(EndpointHost& frame, int socket) {
  ConnectionRecord* record = FindConnection(frame.ConnectionTable, socket);
  if (record != nullptr) {
    RequestClose(frame, record);
  }
}

void CloseEndpoint(EndpointHost& frame) {
  for (auto& record : frame.ConnectionTable) {
    if (record && record->socket >= 0) {
      frame.SocketEvents().SelectSocketEvents(record->socket, 0);
      close(record->socket);
      record->socket = -1;
    }
  }
  frame.ConnectionTable.clear();
  if (frame.ListenSocket >= 0) {
    frame.SocketEvents().SelectSocketEvents(frame.ListenSocket, 0);
    shutdown(frame.ListenSocket, SHUT_RDWR);
    close(frame.ListenSocket);
    frame.ListenSocket = -1;
    platform::WSACleanup();
  }
}
