// Bounded runs of the Qt event loop for tests.
#pragma once

#include <functional>

#include <QMetaObject>

namespace platform_test {

// Runs the event loop until `done` holds or `timeoutMs` passed; returns `done()`.
bool RunUntil(const std::function<bool()>& done, int timeoutMs = 3000);

// Runs the event loop for `ms`, with nothing else waking it.
void RunFor(int ms);

// Counts how often the event loop wakes up: a loop that spins wakes up thousands of times.
class WakeupCounter {
 public:
  WakeupCounter();
  ~WakeupCounter();
  WakeupCounter(const WakeupCounter&) = delete;
  WakeupCounter& operator=(const WakeupCounter&) = delete;
  int Count() const { return count_; }

 private:
  int count_ = 0;
  QMetaObject::Connection connection_;
};

}  // namespace platform_test
