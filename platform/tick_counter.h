// The 32-bit millisecond tick counter: milliseconds of CLOCK_BOOTTIME, truncated, wrapping.
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

uint32_t GetTickCount();

// Tests fix the counter to a value (std::nullopt returns to the real clock).
void SetTickCountForTesting(std::optional<uint32_t> ticks);
// Moves a fixed counter on by the given milliseconds (wrapping); no effect on the real clock.
void AdvanceTickCountForTesting(uint32_t milliseconds);

}  // namespace platform
