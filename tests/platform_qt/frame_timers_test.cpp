#include "platform/frame_timers.h"

#include <functional>
#include <vector>

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include "platform_qt/bounded_loop.h"

namespace platform {
namespace {

using platform_test::RunFor;
using platform_test::RunUntil;

struct Tick {
  int id;
  qint64 atMs;
};

class RecordingTimerSink : public TimerSink {
 public:
  RecordingTimerSink() { clock.start(); }
  void OnTimer(int id) override {
    ticks.push_back({id, clock.elapsed()});
    if (react) {
      react(id);
    }
  }
  int Count(int id) const {
    int n = 0;
    for (const Tick& t : ticks) {
      n += t.id == id ? 1 : 0;
    }
    return n;
  }

  QElapsedTimer clock;
  std::vector<Tick> ticks;
  std::function<void(int)> react;
};

class FrameTimersTest : public ::testing::Test {
 protected:
  RecordingTimerSink sink;
  FrameTimers timers{sink};
};

TEST_F(FrameTimersTest, TimerRepeatsUnderItsOwnIdUntilKilled) {
  ASSERT_TRUE(timers.SetTimer(7, 20));
  ASSERT_TRUE(timers.SetTimer(8, 60000));
  ASSERT_TRUE(RunUntil([&] { return sink.Count(7) >= 3; }));
  EXPECT_GE(sink.ticks[2].atMs, 50);

  EXPECT_TRUE(timers.KillTimer(7));
  EXPECT_FALSE(timers.IsRunning(7));
  const size_t before = sink.ticks.size();
  RunFor(80);
  EXPECT_EQ(sink.ticks.size(), before);
  EXPECT_EQ(sink.Count(8), 0);
  EXPECT_TRUE(timers.IsRunning(8));
  EXPECT_FALSE(timers.KillTimer(7));
}

TEST_F(FrameTimersTest, SettingARunningTimerAgainRestartsIt) {
  ASSERT_TRUE(timers.SetTimer(1, 100));
  RunFor(60);
  const qint64 restartedAt = sink.clock.elapsed();
  ASSERT_TRUE(timers.SetTimer(1, 100));
  ASSERT_TRUE(RunUntil([&] { return sink.Count(1) == 1; }));
  RunFor(50);

  EXPECT_GE(sink.ticks[0].atMs - restartedAt, 90);
  EXPECT_EQ(sink.Count(1), 1);  // one timer, not two
}

TEST_F(FrameTimersTest, HandlerMayKillItsOwnTimer) {
  sink.react = [&](int id) { timers.KillTimer(id); };
  ASSERT_TRUE(timers.SetTimer(3, 10));
  ASSERT_TRUE(RunUntil([&] { return sink.Count(3) == 1; }));
  RunFor(50);
  EXPECT_EQ(sink.Count(3), 1);
}

TEST_F(FrameTimersTest, ZeroPeriodDoesNotFireOnEveryPass) {
  ASSERT_TRUE(timers.SetTimer(4, 0));
  RunFor(100);
  EXPECT_GE(sink.Count(4), 1);
  EXPECT_LE(sink.Count(4), 11);
}

}  // namespace
}  // namespace platform
