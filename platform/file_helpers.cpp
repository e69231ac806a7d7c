#include "platform/file_helpers.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr size_t kChunkSize = 64 * 1024;

ssize_t ReadSome(int fd, void* buffer, size_t size) {
  ssize_t result = 0;
  do {
    result = read(fd, buffer, size);
  } while (result < 0 && errno == EINTR);
  return result;
}

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

bool CopyContent(int from, int to) {
  std::vector<char> buffer(kChunkSize);
  for (;;) {
    const ssize_t got = ReadSome(from, buffer.data(), buffer.size());
    if (got == 0) {
      return true;
    }
    if (got < 0 || !WriteAll(to, buffer.data(), static_cast<size_t>(got))) {
      return false;
    }
  }
}

bool IsRegularFile(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string NormalizePath(const std::string& path) {
  std::string result;
  result.reserve(path.size());
  for (const char c : path) {
    if (c != '/' || !result.ends_with('/')) {
      result.push_back(c);
    }
  }
  return result;
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool DeleteFileAt(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

bool CopyFileNoOverwrite(const std::string& from, const std::string& to) {
  const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) {
    return false;
  }
  if (!IsRegularFile(source)) {
    close(source);
    return false;
  }
  const int target = open(to.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (target < 0) {
    close(source);
    return false;
  }
  const bool copied = CopyContent(source, target);
  close(source);
  // A failed close can be the first report of a failed write (full disk, network file system).
  const bool closed = close(target) == 0;
  if (!copied || !closed) {
    unlink(to.c_str());  // a half copy must not pass for the file
    return false;
  }
  return true;
}

std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  DIR* directory = opendir(folder.c_str());
  if (directory == nullptr) {
    return names;
  }
  while (const dirent* entry = readdir(directory)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != ".." && fnmatch(pattern.c_str(), entry->d_name, 0) == 0) {
      names.emplace_back(name);
    }
  }
  closedir(directory);
  return names;
}

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  // The size is only a hint: files under /proc report 0 and still have content.
  struct stat info {};
  std::vector<uint8_t> content;
  if (fstat(fd, &info) == 0 && info.st_size > 0) {
    content.reserve(static_cast<size_t>(info.st_size));
  }
  std::vector<uint8_t> buffer(kChunkSize);
  for (;;) {
    const ssize_t got = ReadSome(fd, buffer.data(), buffer.size());
    if (got < 0) {
      close(fd);
      return std::nullopt;
    }
    if (got == 0) {
      break;
    }
    content.insert(content.end(), buffer.begin(), buffer.begin() + got);
  }
  close(fd);
  return content;
}

}  // namespace platform
