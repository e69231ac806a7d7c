#include "platform/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr size_t kPrefixBytes = sizeof(uint32_t);

unsigned char* PrefixOf(BSTR text) {
  return reinterpret_cast<unsigned char*>(text) - kPrefixBytes;
}

}  // namespace

BSTR SysAllocStringLen(const char16_t* text, uint32_t units) {
  // The prefix holds the byte length, so it must fit in 32 bits.
  if (units > std::numeric_limits<uint32_t>::max() / sizeof(char16_t)) {
    return nullptr;
  }
  const uint32_t bytes = units * static_cast<uint32_t>(sizeof(char16_t));
  // malloc, not new: the text may be freed by another module with its own allocator state.
  auto* block =
      static_cast<unsigned char*>(std::malloc(kPrefixBytes + size_t{bytes} + sizeof(char16_t)));
  if (block == nullptr) {
    return nullptr;
  }
  std::memcpy(block, &bytes, kPrefixBytes);
  auto* first = reinterpret_cast<char16_t*>(block + kPrefixBytes);
  if (text != nullptr) {
    std::memcpy(first, text, bytes);
  } else {
    std::memset(first, 0, bytes);
  }
  first[units] = u'\0';
  return first;
}

void SysFreeString(BSTR text) {
  if (text != nullptr) {
    std::free(PrefixOf(text));
  }
}

uint32_t SysStringLen(BSTR text) {
  if (text == nullptr) {
    return 0;
  }
  uint32_t bytes = 0;
  std::memcpy(&bytes, PrefixOf(text), kPrefixBytes);
  return bytes / static_cast<uint32_t>(sizeof(char16_t));
}
