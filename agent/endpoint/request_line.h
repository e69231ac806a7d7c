// Finding the request line among the lines of a request.
#pragma once

#include <string_view>

struct RequestLine {
  enum class Kind { kNone, kRequest, kPreflight };
  Kind kind = Kind::kNone;
  std::string_view line;  // the whole line, protocol part included (kRequest only)
};

// Splits `text` (up to its first zero byte) at every CR and LF; the first line that begins with
// "POST " or "GET " is the request line, one that begins with "OPTIONS " a preflight. Other
// lines are skipped.
RequestLine FindRequestLine(std::string_view text);

// The line cut before its first " HTTP/".
std::string_view WithoutProtocol(std::string_view line);
