#include "loginmodule/hex_encode.h"

std::string HexEncode(const unsigned char* bytes, std::ptrdiff_t length) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  if (bytes == nullptr || length <= 0) {
    return text;
  }
  text.reserve(static_cast<size_t>(length) * 2);
  for (std::ptrdiff_t i = 0; i < length; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}
