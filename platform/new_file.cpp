#include "platform/new_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

bool WriteNewFile(const std::string& path, const void* data, size_t size) {
  if (path.empty() || (data == nullptr && size > 0)) {
    return false;
  }
  const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) {
    return false;
  }
  const bool written = WriteAll(fd, static_cast<const char*>(data), size);
  // A failed close can be the first report of a failed write.
  const bool closed = close(fd) == 0;
  if (!written || !closed) {
    unlink(path.c_str());  // a partial copy must not pass for the file
    return false;
  }
  return true;
}

}  // namespace platform
