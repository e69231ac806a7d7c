// Socket events on QSocketNotifier, delivered to a SocketEventSink on the main thread.
//
// Nested event loops (modal dialogs opened by a handler) keep delivering events, also for the
// socket whose handler opened the loop. Qt's notifiers are level-triggered, so one rule keeps a
// nested loop from spinning on a condition the handler has already been told about: while a
// read-side event (FD_ACCEPT, FD_READ) of a socket is being delivered, that socket's read side
// reports again only when its condition changed: new bytes arrived or its end was reached
// (FD_CLOSE). An unchanged condition pauses the read notifier, with a slow re-check, until the
// handler returns. FD_WRITE is not repeated while its own handler runs. Events of other sockets
// are not affected.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include <QObject>

#include "platform/socket_events.h"

namespace platform {

struct ReadCondition;

class SocketNotifications : public QObject, public SocketEventSource {
 public:
  explicit SocketNotifications(SocketEventSink& sink);
  ~SocketNotifications() override;

  // The sink may call this from inside OnSocketEvent, for any socket.
  bool SelectSocketEvents(int socket, int events) override;
  int WatchedSockets() const { return static_cast<int>(watched_.size()); }

 private:
  struct Watch;
  Watch* Find(int socket, std::uint64_t serial) const;
  void OnReadable(int socket, std::uint64_t serial);
  void OnWritable(int socket, std::uint64_t serial);
  void DeliverRead(Watch& watch, const ReadCondition& now);

  SocketEventSink& sink_;
  std::map<int, std::unique_ptr<Watch>> watched_;
  std::uint64_t nextSerial_ = 1;
};

}  // namespace platform
