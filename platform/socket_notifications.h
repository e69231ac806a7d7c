// Socket events on QSocketNotifier, delivered to a SocketEventSink on the main thread.
#pragma once

#include <map>
#include <memory>

#include <QObject>

#include "platform/socket_events.h"

class QSocketNotifier;

namespace platform {

class SocketNotifications : public QObject, public SocketEventSource {
 public:
  explicit SocketNotifications(SocketEventSink& sink);
  ~SocketNotifications() override;

  bool SelectSocketEvents(int socket, int events) override;
  int WatchedSockets() const { return static_cast<int>(watched_.size()); }

 private:
  struct Watch;
  void OnReadable(int socket);
  void OnWritable(int socket);

  SocketEventSink& sink_;
  std::map<int, std::unique_ptr<Watch>> watched_;
};

}  // namespace platform
