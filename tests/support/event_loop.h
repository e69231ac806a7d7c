// Running the Qt event loop in tests until something happened.
#pragma once

#include <functional>

namespace testing_support {

// Processes events until `done` is true or `timeoutMs` passed; returns `done()`.
bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Processes events for about `ms` milliseconds.
void RunEventsFor(int ms);

}  // namespace testing_support
