// Socket events on QSocketNotifier, delivered to a SocketEventSink on the main thread.
//
// Qt's notifiers are level-triggered; these rules keep that from spinning the loop:
//  - FD_CLOSE comes once per socket, however often its mask changes afterwards. Another socket
//    that got the same number starts afresh.
//  - Nested event loops (modal dialogs opened by a handler) keep delivering, also for the socket
//    whose handler opened the loop. But while a read-side event of a socket is being delivered,
//    its read side reports again only when the condition changed: new bytes arrived, or the end
//    (FD_CLOSE). FD_WRITE is not repeated while its own handler runs.
//  - An unchanged condition, or one nobody selected (data without FD_READ), pauses the read
//    notifier; it looks again every few dozen milliseconds and when the handler returns.
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
