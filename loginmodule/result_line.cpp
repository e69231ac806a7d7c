#include "loginmodule/result_line.h"

#include <cstdint>

std::string FailureLine(const Failure& failure) {
  const auto code = static_cast<int32_t>(static_cast<uint32_t>(failure.code));
  return std::to_string(code) + "," + failure.label;
}

std::string SuccessLine(std::string_view label, std::initializer_list<std::string_view> fields) {
  std::string line = "0,";
  line += label;
  for (const std::string_view field : fields) {
    line += ',';
    line += field;
  }
  return line;
}
