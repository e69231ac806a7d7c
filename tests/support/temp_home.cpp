#include "temp_home.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace testing_support {

namespace {

std::string Save(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

void Restore(const char* name, const std::string& value) {
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
}

bool PortFree(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  const bool free = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(s);
  return free;
}

}  // namespace

TempHome::TempHome()
    : savedHome_(Save("HOME")), savedTmp_(Save("TMPDIR")), savedRuntime_(Save("XDG_RUNTIME_DIR")) {
  char pattern[] = "/tmp/ostrabel-test-XXXXXX";
  path_ = mkdtemp(pattern);
  mkdir((path_ + "/tmp").c_str(), 0700);
  mkdir((path_ + "/run").c_str(), 0700);
  setenv("HOME", path_.c_str(), 1);
  setenv("TMPDIR", tmp().c_str(), 1);
  setenv("XDG_RUNTIME_DIR", runtime().c_str(), 1);
}

TempHome::~TempHome() {
  Restore("HOME", savedHome_);
  Restore("TMPDIR", savedTmp_);
  Restore("XDG_RUNTIME_DIR", savedRuntime_);
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

int FindFreePortRun() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    socklen_t size = sizeof address;
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    close(s);
    const int port = ntohs(address.sin_port);
    if (port < 65000 && PortFree(port) && PortFree(port + 1) && PortFree(port + 2)) {
      return port;
    }
  }
  return 0;
}

}  // namespace testing_support
