#include "platform/tick_counter.h"

#include <time.h>

#include <atomic>

namespace platform {
namespace {

// Read from any thread (log lines carry ticks), so the test override is atomic.
std::atomic<bool> tickCountFixed{false};
std::atomic<uint32_t> fixedTickCount{0};

uint32_t BootClockMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const uint64_t milliseconds =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(milliseconds);
}

}  // namespace

uint32_t GetTickCount() {
  return tickCountFixed.load() ? fixedTickCount.load() : BootClockMilliseconds();
}

void SetTickCountForTesting(std::optional<uint32_t> ticks) {
  if (ticks) {
    fixedTickCount.store(*ticks);
  }
  tickCountFixed.store(ticks.has_value());
}

void AdvanceTickCountForTesting(uint32_t milliseconds) {
  if (tickCountFixed.load()) {
    fixedTickCount.fetch_add(milliseconds);  // unsigned: wraps like the real counter
  }
}

}  // namespace platform
