#include "event_loop.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace testing_support {

namespace {

// Waits for events (without spinning) for at most 10 ms and handles them.
void RunEventsBriefly() {
  QEventLoop loop;
  QTimer::singleShot(10, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) {
      return false;
    }
    RunEventsBriefly();
  }
  return true;
}

void RunEventsFor(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    RunEventsBriefly();
  }
}

}  // namespace testing_support
