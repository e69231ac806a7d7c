#include "platform_qt/test_sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace platform_test {
namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    throw std::runtime_error(what);
  }
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

void MakeNonBlocking(int fd) {
  Check(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0, "fcntl");
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

int Fd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::Reset() {
  if (fd_ >= 0) {
    close(fd_);
  }
  fd_ = -1;
}

Fd Listen() {
  Fd listener(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
  Check(listener.get() >= 0, "socket");
  const sockaddr_in address = Loopback(0);
  Check(bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0,
        "bind");
  Check(listen(listener.get(), 8) == 0, "listen");
  return listener;
}

int PortOf(int socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  Check(getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0, "getsockname");
  return ntohs(address.sin_port);
}

Fd ConnectTo(int port) {
  Fd client(socket(AF_INET, SOCK_STREAM, 0));
  Check(client.get() >= 0, "socket");
  const sockaddr_in address = Loopback(port);
  Check(connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0,
        "connect");
  return client;
}

Fd AcceptOne(int listener) {
  return Fd(accept4(listener, nullptr, nullptr, SOCK_NONBLOCK));
}

Connection Connect(Transport transport) {
  Connection connection;
  if (transport == Transport::kUnix) {
    int ends[2];
    Check(socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0, "socketpair");
    connection.local = Fd(ends[0]);
    connection.peer = Fd(ends[1]);
    MakeNonBlocking(ends[0]);
    return connection;
  }
  const Fd listener = Listen();
  connection.peer = ConnectTo(PortOf(listener.get()));
  connection.local = AcceptOne(listener.get());  // loopback: the connection is already queued
  Check(connection.local.get() >= 0, "accept");
  return connection;
}

void Send(int socket, std::string_view data) {
  Check(send(socket, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size()),
        "send");
}

std::string Drain(int socket) {
  std::string data;
  char buffer[4096];
  ssize_t got;
  while ((got = recv(socket, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
    data.append(buffer, static_cast<size_t>(got));
  }
  return data;
}

void ResetAndClose(Fd& socket) {
  const linger abort{1, 0};
  Check(setsockopt(socket.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort) == 0, "setsockopt");
  socket.Reset();
}

}  // namespace platform_test
