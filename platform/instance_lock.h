// The single-instance mark: an exclusive flock on a lock file named after the program file in the
// per-user runtime folder. The lock file descriptor is close-on-exec, so no child inherits it.
#pragma once

#include <string>

namespace platform {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  enum class Result { kAcquired, kAlreadyHeld, kFailed };

  // Takes the lock named `name` in `folder` (default: the runtime folder).
  Result Acquire(const std::string& name, const std::string& folder = {});
  // Gives the lock back; another process can take it at once. Safe to call twice.
  void Release();
  bool IsHeld() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace platform
