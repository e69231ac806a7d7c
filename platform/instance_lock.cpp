#include "platform/instance_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/temp_folder.h"

namespace platform {
namespace {

int LockWithoutWaiting(int fd) {
  int result = 0;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result;
}

}  // namespace

InstanceLock::~InstanceLock() {
  Release();
}

InstanceLock::Result InstanceLock::Acquire(const std::string& name, const std::string& folder) {
  Release();
  std::string path = folder.empty() ? UserRuntimeFolder() : folder;
  if (path.empty() || name.empty()) {
    return Result::kFailed;
  }
  if (!path.ends_with('/')) {
    path.push_back('/');
  }
  path += name + ".lock";
  // The file is never removed: unlinking it would let a second instance lock a fresh file while
  // the first still holds the old one.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    return Result::kFailed;
  }
  if (LockWithoutWaiting(fd) != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? Result::kAlreadyHeld : Result::kFailed;
  }
  fd_ = fd;
  return Result::kAcquired;
}

void InstanceLock::Release() {
  if (fd_ >= 0) {
    close(fd_);  // closing the only descriptor of the file description drops the flock
    fd_ = -1;
  }
}

}  // namespace platform
