#include "platform/tick_counter.h"

#include <gtest/gtest.h>
#include <time.h>

namespace {

uint32_t BootClockMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

// The counter read between two readings of the boot clock lies between them (wrapping).
void ExpectFollowsBootClock() {
  const uint32_t before = BootClockMilliseconds();
  const uint32_t ticks = platform::GetTickCount();
  const uint32_t after = BootClockMilliseconds();
  EXPECT_LE(static_cast<uint32_t>(ticks - before), static_cast<uint32_t>(after - before));
}

class TickCounter : public testing::Test {
 protected:
  void TearDown() override { platform::SetTickCountForTesting(std::nullopt); }
};

TEST_F(TickCounter, RealCounterIsBootClockMilliseconds) {
  ExpectFollowsBootClock();
}

TEST_F(TickCounter, FixedCounterAdvancesAndWraps) {
  platform::SetTickCountForTesting(0xFFFFFFF0u);
  EXPECT_EQ(platform::GetTickCount(), 0xFFFFFFF0u);
  platform::AdvanceTickCountForTesting(0x20);
  EXPECT_EQ(platform::GetTickCount(), 0x10u);
}

TEST_F(TickCounter, ClearingTheFixedValueReturnsToTheRealClock) {
  platform::SetTickCountForTesting(5);
  platform::SetTickCountForTesting(std::nullopt);
  platform::AdvanceTickCountForTesting(1000000);  // only moves a fixed counter
  ExpectFollowsBootClock();
}

}  // namespace
