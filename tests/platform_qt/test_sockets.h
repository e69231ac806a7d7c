// Real sockets for the tests: loopback TCP and socketpair connections.
#pragma once

#include <string>
#include <string_view>

namespace platform_test {

// Owns a descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept;
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  int Release();
  void Reset();

 private:
  int fd_ = -1;
};

// `local` is the non-blocking side under test, `peer` the other end (blocking).
struct Connection {
  Fd local;
  Fd peer;
};

enum class Transport { kTcp, kUnix };

Fd Listen();  // on 127.0.0.1, an ephemeral port, non-blocking
int PortOf(int socket);
Fd ConnectTo(int port);      // blocking, from 127.0.0.1
Fd AcceptOne(int listener);  // non-blocking result; -1 when nothing waits
Connection Connect(Transport transport);

void Send(int socket, std::string_view data);
std::string Drain(int socket);   // everything readable now, without blocking
void ResetAndClose(Fd& socket);  // close with SO_LINGER 0: the other end sees a reset

}  // namespace platform_test
