#include "pin_dialog_watch.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <chrono>
#include <thread>

namespace login_test {

PinDialogWatch::PinDialogWatch() {
  timer_.callOnTimeout([this] { Poll(); });
  timer_.start(5);
}

bool PinDialogWatch::WaitUntilOpen(int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!open_) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void PinDialogWatch::Answer(std::optional<QString> pin) {
  const std::lock_guard lock(mutex_);
  answer_ = std::move(pin);
  answerPending_ = true;
}

void PinDialogWatch::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  QLineEdit* field =
      modal != nullptr ? modal->findChild<QLineEdit*>(QStringLiteral("201")) : nullptr;
  open_ = field != nullptr;
  if (field == nullptr) {
    return;
  }
  std::optional<QString> pin;
  {
    const std::lock_guard lock(mutex_);
    if (!answerPending_) {
      return;
    }
    answerPending_ = false;
    pin = answer_;
  }
  if (pin) {
    QTest::keyClicks(field, *pin);
    QTest::keyClick(field, Qt::Key_Return);
  } else {
    QTest::keyClick(field, Qt::Key_Escape);
  }
  open_ = false;
}

}  // namespace login_test
