#include "agent/bridge/pin_mask.h"

#include <algorithm>
#include <cstdint>

namespace {

struct PinMethod {
  std::string_view method;
  uint32_t parameters;  // bit N: ParamN carries a PIN
};

constexpr PinMethod kPinMethods[] = {
    {"ResetANPIN", 1u << 1},
    {"ChangeANPin", (1u << 1) | (1u << 2)},
    {"VerifyANPin", 1u << 1},
    {"sign", 1u << 1},
};

// The dispatcher reads a request line only up to the first zero byte, CR or LF.
constexpr std::string_view kLineEnds("\r\n\0", 3);

struct Field {
  std::string_view name;
  std::string_view value;
  bool hasValue;
};

Field SplitField(std::string_view piece) {
  const size_t equals = piece.find('=');
  if (equals == std::string_view::npos) {
    return {piece, {}, false};
  }
  return {piece.substr(0, equals), piece.substr(equals + 1), true};
}

// Calls `visit` with each "&"-separated piece of the query, empty ones included.
template <typename Visit>
void ForEachPiece(std::string_view query, Visit visit) {
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(query.find('&', start), query.size());
    visit(query.substr(start, end - start), end == query.size());
    if (end == query.size()) {
      return;
    }
    start = end + 1;
  }
}

// The method the dispatcher would call: every command field's raw value, joined in order.
std::string CommandValue(std::string_view query) {
  std::string method;
  ForEachPiece(query, [&](std::string_view piece, bool) {
    const Field field = SplitField(piece);
    if (field.name == "InitDLL" || field.name == "ExecMethod") {
      method.append(field.value);
    }
  });
  return method;
}

// 1 to 9 for "Param1" to "Param9" exactly, otherwise 0.
int ParameterIndex(std::string_view name) {
  if (name.size() != 6 || !name.starts_with("Param") || name[5] < '1' || name[5] > '9') {
    return 0;
  }
  return name[5] - '0';
}

void AppendMaskedQuery(std::string& out, std::string_view query, std::string_view method) {
  ForEachPiece(query, [&](std::string_view piece, bool last) {
    const Field field = SplitField(piece);
    if (field.hasValue && !field.value.empty() &&
        IsPinParameter(method, ParameterIndex(field.name))) {
      out.append(field.name).append("=").append(kPinMask);
    } else {
      out.append(piece);
    }
    if (!last) {
      out.push_back('&');
    }
  });
}

void AppendMaskedLine(std::string& out, std::string_view line) {
  // The query ends where the dispatcher's line ends: before " HTTP/".
  const size_t targetEnd = std::min(line.find(" HTTP/"), line.size());
  const size_t question = line.substr(0, targetEnd).find('?');
  if (question == std::string_view::npos) {
    out.append(line);
    return;
  }
  const std::string_view query = line.substr(question + 1, targetEnd - question - 1);
  const std::string method = CommandValue(query);
  out.append(line.substr(0, question + 1));
  AppendMaskedQuery(out, query, method);
  out.append(line.substr(targetEnd));
}

}  // namespace

bool IsPinParameter(std::string_view method, int index) {
  if (index < 1 || index > 9) {
    return false;
  }
  for (const PinMethod& pin : kPinMethods) {
    if (pin.method == method) {
      return (pin.parameters & (1u << index)) != 0;
    }
  }
  return false;
}

std::string MaskPinsInRequestText(std::string_view text) {
  // Only a command field can name a PIN method; most requests (preflights) have none.
  if (text.find("ExecMethod") == std::string_view::npos &&
      text.find("InitDLL") == std::string_view::npos) {
    return std::string(text);
  }
  std::string masked;
  masked.reserve(text.size());
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(text.find_first_of(kLineEnds, start), text.size());
    AppendMaskedLine(masked, text.substr(start, end - start));
    if (end == text.size()) {
      return masked;
    }
    masked.push_back(text[end]);
    start = end + 1;
  }
}
