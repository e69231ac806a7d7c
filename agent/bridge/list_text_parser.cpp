#include "agent/bridge/list_text_parser.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "platform/text_conversion.h"

namespace {

constexpr size_t kMinValueLength = 41;
constexpr size_t kDigestDigits = 64;

// The C locale's white space; bytes of multi-byte UTF-8 characters are never white space.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// A C integer literal with automatic base, as strtol with base 0 reads it where long has 32 bits:
// leading white space and a sign are accepted, reading stops at the first other character, and
// a value out of range is clamped.
int32_t ReadSize(std::string_view text) {
  const std::string copy(text);  // strtol needs a terminated text
  const long long value = std::strtoll(copy.c_str(), nullptr, 0);
  if (value > std::numeric_limits<int32_t>::max()) {
    return std::numeric_limits<int32_t>::max();
  }
  if (value < std::numeric_limits<int32_t>::min()) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(value);
}

void ParseLine(std::string_view line, std::vector<VerificationEntry>& entries) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) {
    return;
  }
  const std::string_view name = Trim(line.substr(0, equals));
  const std::string_view value = Trim(line.substr(equals + 1));
  const size_t dot = value.find('.');
  if (value.size() < kMinValueLength || dot == std::string_view::npos) {
    return;
  }
  const std::string_view digestText = value.substr(0, dot);
  VerificationEntry entry;
  entry.name = platform::AnsiToWide(name);
  if (digestText.size() == kDigestDigits) {
    // A digest text with other characters than hex digits leaves the digest empty.
    HexDecode(entry.digest, std::string(digestText).c_str());
  }
  entry.size = ReadSize(value.substr(dot + 1));
  entries.push_back(std::move(entry));
}

}  // namespace

std::vector<VerificationEntry> ParseListText(std::string_view plain) {
  plain = plain.substr(0, plain.find('\0'));
  std::vector<VerificationEntry> entries;
  for (;;) {
    const size_t end = plain.find("\r\n");
    ParseLine(plain.substr(0, end), entries);
    if (end == std::string_view::npos) {
      return entries;
    }
    plain.remove_prefix(end + 2);
  }
}
