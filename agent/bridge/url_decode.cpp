#include "agent/bridge/url_decode.h"

#include <optional>
#include <string>

#include "platform/text_conversion.h"

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// Decodes the escape whose digits start at `digits`; returns how many characters it consumed.
size_t DecodeEscape(const char* digits, std::string& work) {
  size_t available = 0;
  while (available < 2 && digits[available] != '\0') {
    ++available;
  }
  if (available == 2) {
    const int high = HexDigitValue(digits[0]);
    const int low = HexDigitValue(digits[1]);
    if (high >= 0 && low >= 0 && (high != 0 || low != 0)) {
      work.push_back(static_cast<char>(high * 16 + low));
    }
  }
  return available;
}

}  // namespace

void UrlDecodeField(ValueBuffer& target, const char* raw) {
  target.Reset();
  if (raw == nullptr || *raw == '\0') {
    return;
  }
  std::string work;
  bool escaped = false;
  for (const char* p = raw; *p != '\0'; ++p) {
    if (*p == '+') {
      work.push_back(' ');
    } else if (*p == '%') {
      escaped = true;
      p += DecodeEscape(p + 1, work);
    } else {
      work.push_back(*p);
    }
  }
  if (escaped) {
    if (const std::optional<std::u16string> wide = platform::Utf8ToWideStrict(work)) {
      target.AppendWide(wide->c_str());
    }
    return;
  }
  target.AppendWide(platform::AnsiToWide(work).c_str());
}
