#include "agent/endpoint/request_framing.h"

#include <algorithm>
#include <cctype>

namespace {

// Offset just past the empty line that ends the header block, or npos.
size_t HeaderEnd(std::string_view input) {
  const size_t crlf = input.find("\r\n\r\n");
  const size_t lf = input.find("\n\n");
  const size_t crlfEnd = crlf == std::string_view::npos ? crlf : crlf + 4;
  const size_t lfEnd = lf == std::string_view::npos ? lf : lf + 2;
  return std::min(crlfEnd, lfEnd);
}

bool NameIs(std::string_view line, std::string_view name) {
  if (line.size() < name.size()) {
    return false;
  }
  for (size_t i = 0; i < name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) {
      return false;
    }
  }
  return true;
}

// The Content-Length of the header block; 0 when there is none or it is not a number. A value
// too large to matter is clamped just above `limit`.
size_t ContentLength(std::string_view header, size_t limit) {
  constexpr std::string_view kName = "content-length:";
  size_t start = header.find('\n');
  while (start != std::string_view::npos && start + 1 < header.size()) {
    const size_t end = header.find('\n', start + 1);
    std::string_view line =
        header.substr(start + 1, end == header.npos ? header.npos : end - start - 1);
    if (NameIs(line, kName)) {
      size_t value = 0;
      for (char c : line.substr(kName.size())) {
        if (c >= '0' && c <= '9') {
          value = std::min(value * 10 + static_cast<size_t>(c - '0'), limit + 1);
        } else if (c != ' ' && c != '\t' && c != '\r') {
          return 0;
        }
      }
      return value;
    }
    start = end;
  }
  return 0;
}

}  // namespace

RequestFraming FrameRequest(std::string_view input, size_t limit) {
  RequestFraming framing;
  const size_t headerEnd = HeaderEnd(input);
  if (headerEnd == std::string_view::npos) {
    if (input.size() > limit) {
      framing.status = RequestFraming::Status::kTooLarge;
    }
    return framing;
  }
  const size_t total = headerEnd + ContentLength(input.substr(0, headerEnd), limit);
  if (total > limit) {
    framing.status = RequestFraming::Status::kTooLarge;
  } else if (input.size() >= total) {
    framing.status = RequestFraming::Status::kComplete;
    framing.length = total;
  }
  return framing;
}
