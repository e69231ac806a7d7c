#include "platform_qt/bounded_loop.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

namespace platform_test {

bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
  if (done()) {
    return true;
  }
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) {
      loop.quit();
    }
  });
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  poll.start();
  loop.exec();
  return done();
}

void RunFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

WakeupCounter::WakeupCounter()
    : connection_(QObject::connect(QAbstractEventDispatcher::instance(),
                                   &QAbstractEventDispatcher::awake, [this] { ++count_; })) {}

WakeupCounter::~WakeupCounter() {
  QObject::disconnect(connection_);
}

}  // namespace platform_test
