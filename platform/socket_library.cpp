#include "platform/socket_library.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<int> references{0};

}  // namespace

int WSAStartup() {
  ++references;
  return 0;
}

int WSACleanup() {
  int held = references.load();
  while (held > 0) {
    if (references.compare_exchange_weak(held, held - 1)) {
      return 0;
    }
  }
  return -1;
}

int SocketLibraryReferences() {
  return references.load();
}

const char* SocketSystemStatus() {
  return "Running";
}

}  // namespace platform
