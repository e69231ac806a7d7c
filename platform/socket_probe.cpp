#include "platform/socket_probe.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>

namespace platform {
namespace {

bool IsListening(int socket) {
  int listening = 0;
  socklen_t length = sizeof listening;
  return getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening != 0;
}

// The byte count waiting is not enough on TCP: after a read, fresh data of the same size would
// look unchanged. The kernel's running total of received bytes does not have that blind spot.
std::uint64_t ReceiveMark(int socket) {
  tcp_info info{};
  socklen_t length = sizeof info;
  constexpr socklen_t kNeeded = offsetof(tcp_info, tcpi_bytes_received) + sizeof(std::uint64_t);
  if (getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 && length >= kNeeded) {
    return info.tcpi_bytes_received;
  }
  int waiting = 0;
  return ioctl(socket, FIONREAD, &waiting) == 0 ? static_cast<std::uint64_t>(waiting) : 0;
}

}  // namespace

ReadCondition ProbeReadSide(int socket, bool mayListen) {
  if (mayListen && IsListening(socket)) {
    return {ReadCondition::kAccept};
  }
  char byte = 0;
  const ssize_t got = recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (got > 0) {
    return {ReadCondition::kData, ReceiveMark(socket)};
  }
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    return {ReadCondition::kNothing};
  }
  return {ReadCondition::kEnd};
}

std::uint64_t SocketIdentity(int socket) {
  struct stat info {};
  if (socket < 0 || fstat(socket, &info) != 0 || !S_ISSOCK(info.st_mode)) {
    return 0;
  }
  return static_cast<std::uint64_t>(info.st_ino);
}

}  // namespace platform
