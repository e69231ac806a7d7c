// Watches the test's event loop for the login module's PIN dialog, which the module creates and
// runs modally on this thread; client threads ask whether it is open and say how to close it.
#pragma once

#include <QString>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <optional>

namespace login_test {

class PinDialogWatch {
 public:
  PinDialogWatch();

  // True while the dialog is the open modal window. Any thread.
  bool IsOpen() const { return open_; }
  // Waits (on a client thread) until the dialog is open; false after `timeoutMs`.
  bool WaitUntilOpen(int timeoutMs = 10000) const;
  // Once the dialog is open: types `pin` into field 201 and presses Enter, or presses Esc when
  // there is no `pin`. Any thread.
  void Answer(std::optional<QString> pin);

 private:
  void Poll();

  QTimer timer_;
  std::atomic<bool> open_{false};
  std::mutex mutex_;
  bool answerPending_ = false;
  std::optional<QString> answer_;
};

}  // namespace login_test
