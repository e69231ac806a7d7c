// Looks at a socket without consuming anything: what a readable socket has to report.
#pragma once

#include <cstdint>

namespace platform {

struct ReadCondition {
  enum Kind { kNothing, kAccept, kData, kEnd };
  Kind kind = kNothing;
  // For kData: changes whenever new bytes arrive (bytes received so far on TCP, bytes waiting on
  // other sockets), so unread data can be told apart from fresh data.
  std::uint64_t mark = 0;

  bool operator==(const ReadCondition&) const = default;
};

// kAccept for a listening socket, kData when a byte can be peeked, kEnd at end of stream or on
// an error such as a reset, kNothing when the wake-up was spurious. `mayListen`: the socket
// could be a listening one (only then is that asked).
ReadCondition ProbeReadSide(int socket, bool mayListen = true);

// Tells two sockets apart that had the same descriptor number; 0 when `socket` is not a socket.
std::uint64_t SocketIdentity(int socket);

}  // namespace platform
