#include "platform/socket_notifications.h"

#include <QSocketNotifier>
#include <QTimer>

#include "platform/socket_probe.h"

namespace platform {
namespace {

constexpr int kReadEvents = FD_ACCEPT | FD_READ | FD_CLOSE;
// How often a paused read side looks again; slow enough to cost nothing, quick enough that data
// consumed behind the notifier's back (and an end waiting behind it) is noticed.
constexpr int kRecheckMs = 50;

int EventFor(ReadCondition::Kind kind) {
  switch (kind) {
    case ReadCondition::kAccept:
      return FD_ACCEPT;
    case ReadCondition::kData:
      return FD_READ;
    case ReadCondition::kEnd:
      return FD_CLOSE;
    case ReadCondition::kNothing:
      break;
  }
  return 0;
}

// Qt may be inside this notifier's activated signal: cut it loose now, free it later.
void Discard(QSocketNotifier* notifier) {
  notifier->disconnect();
  notifier->setEnabled(false);
  notifier->deleteLater();
}

}  // namespace

struct SocketNotifications::Watch {
  Watch(SocketNotifications& owner, int socket, std::uint64_t identity, std::uint64_t serial);
  ~Watch();
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  void Apply();
  void Pause();
  void Resume();

  const int socket;
  const std::uint64_t identity;
  const std::uint64_t serial;
  int events = 0;
  bool ended = false;  // FD_CLOSE was found; the read side is done for this socket
  bool readPaused = false;
  int readDeliveries = 0;  // read-side deliveries running (more than one in nested loops)
  bool writeDelivering = false;
  ReadCondition delivered;  // condition of the latest read-side delivery
  QSocketNotifier* reader;
  QSocketNotifier* writer;
  QTimer recheck;
};

SocketNotifications::Watch::Watch(SocketNotifications& owner, int socket, std::uint64_t identity,
                                  std::uint64_t serial)
    : socket(socket),
      identity(identity),
      serial(serial),
      reader(new QSocketNotifier(socket, QSocketNotifier::Read, &owner)),
      writer(new QSocketNotifier(socket, QSocketNotifier::Write, &owner)) {
  // The serial makes a late signal of a replaced watch find nothing, even when a new socket has
  // the same number.
  QObject::connect(reader, &QSocketNotifier::activated, &owner,
                   [&owner, socket, serial] { owner.OnReadable(socket, serial); });
  QObject::connect(writer, &QSocketNotifier::activated, &owner,
                   [&owner, socket, serial] { owner.OnWritable(socket, serial); });
  recheck.setSingleShot(true);
  recheck.setInterval(kRecheckMs);
  QObject::connect(&recheck, &QTimer::timeout, [this] {
    readPaused = false;
    Apply();
  });
}

SocketNotifications::Watch::~Watch() {
  Discard(reader);
  Discard(writer);
}

void SocketNotifications::Watch::Apply() {
  reader->setEnabled((events & kReadEvents) != 0 && !ended && !readPaused);
  writer->setEnabled((events & FD_WRITE) != 0 && !writeDelivering);
}

void SocketNotifications::Watch::Pause() {
  readPaused = true;
  Apply();
  recheck.start();
}

void SocketNotifications::Watch::Resume() {
  recheck.stop();
  readPaused = false;
  Apply();
}

SocketNotifications::SocketNotifications(SocketEventSink& sink) : sink_(sink) {}

SocketNotifications::~SocketNotifications() = default;

bool SocketNotifications::SelectSocketEvents(int socket, int events) {
  if (events == 0) {
    watched_.erase(socket);
    return socket >= 0;
  }
  const std::uint64_t identity = SocketIdentity(socket);
  if (identity == 0) {
    watched_.erase(socket);
    return false;
  }
  std::unique_ptr<Watch>& watch = watched_[socket];
  // Same socket: a new mask only. FD_CLOSE stays delivered once, however often the mask changes.
  if (!watch || watch->identity != identity) {
    watch = std::make_unique<Watch>(*this, socket, identity, nextSerial_++);
  }
  watch->events = events;
  watch->Resume();
  return true;
}

SocketNotifications::Watch* SocketNotifications::Find(int socket, std::uint64_t serial) const {
  const auto it = watched_.find(socket);
  return it != watched_.end() && it->second->serial == serial ? it->second.get() : nullptr;
}

void SocketNotifications::OnReadable(int socket, std::uint64_t serial) {
  Watch* watch = Find(socket, serial);
  if (!watch) {
    return;
  }
  // Only a socket selected for FD_ACCEPT can be a listening one: others skip that question.
  const ReadCondition now = ProbeReadSide(socket, (watch->events & FD_ACCEPT) != 0);
  if (now.kind == ReadCondition::kNothing) {
    return;
  }
  if (now.kind == ReadCondition::kEnd) {
    watch->ended = true;
    watch->Apply();
  }
  const bool selected = (watch->events & EventFor(now.kind)) != 0;
  const bool alreadyTold = watch->readDeliveries > 0 && now == watch->delivered;
  if (selected && !alreadyTold) {
    DeliverRead(*watch, now);
  } else if (now.kind != ReadCondition::kEnd) {
    watch->Pause();
  }
}

void SocketNotifications::DeliverRead(Watch& watch, const ReadCondition& now) {
  const int socket = watch.socket;
  const std::uint64_t serial = watch.serial;
  watch.delivered = now;
  ++watch.readDeliveries;
  sink_.OnSocketEvent(socket, EventFor(now.kind));
  // The sink may have deselected the socket or replaced it by another of the same number.
  Watch* after = Find(socket, serial);
  if (after && --after->readDeliveries == 0) {
    after->Resume();
  }
}

void SocketNotifications::OnWritable(int socket, std::uint64_t serial) {
  Watch* watch = Find(socket, serial);
  if (!watch || (watch->events & FD_WRITE) == 0) {
    return;
  }
  watch->writeDelivering = true;
  watch->Apply();
  sink_.OnSocketEvent(socket, FD_WRITE);
  if (Watch* after = Find(socket, serial)) {
    after->writeDelivering = false;
    after->Apply();
  }
}

}  // namespace platform
