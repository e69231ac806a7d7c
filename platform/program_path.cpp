#include "platform/program_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <vector>

namespace platform {
namespace {

std::string ReadLink(const char* link) {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink(link, buffer.data(), buffer.size());
    if (length < 0) {
      return {};
    }
    if (static_cast<size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<size_t>(length));
    }
    buffer.resize(buffer.size() * 2);  // possibly cut short: try again with more room
  }
}

// When the program file was replaced (an update) or removed, the kernel appends this mark. The
// path without it is the one a restart must start and the one the instance lock is named after.
std::string WithoutDeletedMark(std::string path) {
  constexpr std::string_view kMark = " (deleted)";
  struct stat info {};
  if (path.ends_with(kMark) && lstat(path.c_str(), &info) != 0) {
    path.resize(path.size() - kMark.size());
  }
  return path;
}

}  // namespace

std::string ProgramPath() {
  return WithoutDeletedMark(ReadLink("/proc/self/exe"));
}

std::string ProgramFolder() {
  const std::string path = ProgramPath();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ProgramFileName() {
  const std::string path = ProgramPath();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace platform
