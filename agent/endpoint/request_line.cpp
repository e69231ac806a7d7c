#include "agent/endpoint/request_line.h"

RequestLine FindRequestLine(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view line = text.substr(start, end - start);
    if (line.starts_with("POST ") || line.starts_with("GET ")) {
      return {RequestLine::Kind::kRequest, line};
    }
    if (line.starts_with("OPTIONS ")) {
      return {RequestLine::Kind::kPreflight, {}};
    }
    start = end + 1;
  }
  return {};
}

std::string_view WithoutProtocol(std::string_view line) {
  return line.substr(0, line.find(" HTTP/"));
}
