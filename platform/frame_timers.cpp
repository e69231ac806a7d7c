#include "platform/frame_timers.h"

#include <algorithm>

#include <QTimerEvent>

namespace platform {
namespace {

// A zero period would fire on every pass of the event loop.
constexpr int kMinimumPeriodMs = 10;
// Qt's coarse timers may drift by 5%, harmless for long periods but not for short ones.
constexpr int kPreciseBelowMs = 1000;

}  // namespace

FrameTimers::FrameTimers(TimerSink& sink) : sink_(sink) {}

FrameTimers::~FrameTimers() = default;

bool FrameTimers::SetTimer(int id, int periodMs) {
  KillTimer(id);
  const int period = std::max(periodMs, kMinimumPeriodMs);
  const int qtId =
      startTimer(period, period < kPreciseBelowMs ? Qt::PreciseTimer : Qt::CoarseTimer);
  if (qtId == 0) {
    return false;
  }
  qtIds_[id] = qtId;
  return true;
}

bool FrameTimers::KillTimer(int id) {
  const auto it = qtIds_.find(id);
  if (it == qtIds_.end()) {
    return false;
  }
  killTimer(it->second);
  qtIds_.erase(it);
  return true;
}

void FrameTimers::timerEvent(QTimerEvent* event) {
  const auto it = std::find_if(qtIds_.begin(), qtIds_.end(),
                               [event](const auto& ids) { return ids.second == event->timerId(); });
  if (it == qtIds_.end()) {
    QObject::timerEvent(event);
    return;
  }
  sink_.OnTimer(it->first);
}

}  // namespace platform
