// Timers of the hidden frame (SetTimer / WM_TIMER).
#pragma once

#include <map>

#include <QObject>

namespace platform {

class TimerSink {
 public:
  virtual ~TimerSink() = default;
  virtual void OnTimer(int id) = 0;
};

class FrameTimers : public QObject {
 public:
  explicit FrameTimers(TimerSink& sink);
  ~FrameTimers() override;

  // Starts (or restarts) the timer `id` with the period in milliseconds (at least 10).
  bool SetTimer(int id, int periodMs);
  bool KillTimer(int id);
  bool IsRunning(int id) const { return qtIds_.count(id) != 0; }

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  TimerSink& sink_;
  std::map<int, int> qtIds_;  // our id -> Qt's id
};

}  // namespace platform
