// Socket events delivered as messages of the hidden frame, the way the agent expects them.
#pragma once

namespace platform {

inline constexpr int FD_READ = 0x01;
inline constexpr int FD_WRITE = 0x02;
inline constexpr int FD_ACCEPT = 0x08;
inline constexpr int FD_CLOSE = 0x20;

// Receives the events of the sockets that were selected.
class SocketEventSink {
 public:
  virtual ~SocketEventSink() = default;
  virtual void OnSocketEvent(int socket, int event) = 0;
};

// Chooses which events of a socket are delivered.
//  - FD_ACCEPT: a listening socket is readable (one event per wake-up; it repeats while
//    connections wait).
//  - FD_READ: a connected socket is readable and holds data (found by peeking one byte).
//  - FD_CLOSE: a connected socket reached end of stream or was reset; delivered once, after which
//    the socket's read events stop.
//  - FD_WRITE: a connected socket is writable; selected only while output waits.
class SocketEventSource {
 public:
  virtual ~SocketEventSource() = default;
  // Replaces the selected events of `socket`; 0 stops every delivery for it (do this before
  // closing the socket). Returns false when the socket cannot be watched.
  virtual bool SelectSocketEvents(int socket, int events) = 0;
};

}  // namespace platform
