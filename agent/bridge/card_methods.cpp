#include "agent/bridge/card_methods.h"

#include <string_view>

#include "agent/bridge/card_method_table.h"
#include "agent/bridge/pin_mask.h"
#include "agent/endpoint/response_writer.h"
#include "agent/log/log_writer.h"
#include "platform/module_loader.h"
#include "platform/text_conversion.h"

namespace {

const char* MethodName(const RequestFields& fields) {
  const ValueBuffer& value = fields.pairs[0].value;
  return value.kind() == ValueKind::kNarrow ? value.Chars() : nullptr;
}

void LogParameter(BridgeHost& frame, const std::string& label, const ValueBuffer& value) {
  switch (value.kind()) {
    case ValueKind::kNarrow:
      LogValue(frame, label.c_str(), value.Chars());
      break;
    case ValueKind::kBytes:
      LogHexDump(frame, label.c_str(), value.data(), value.length());
      break;
    case ValueKind::kWide:
      LogWideValue(frame, label.c_str(), value.WideText());
      break;
    case ValueKind::kEmpty:
      LogValue(frame, label.c_str(), "null(0x00000000)");
      break;
  }
}

}  // namespace

void* ResolveMethodExport(void* moduleHandle, const char* method, int argumentBytes) {
  if (moduleHandle == nullptr || method == nullptr || *method == '\0') {
    return nullptr;
  }
  if (void* function = platform::FindExport(moduleHandle, method)) {
    return function;
  }
  std::string decorated = "_";
  decorated.append(method).append("@").append(std::to_string(argumentBytes));
  return platform::FindExport(moduleHandle, decorated.c_str());
}

void LogRequestParameters(BridgeHost& frame, const RequestFields& fields) {
  const char* method = MethodName(fields);
  const std::string_view methodName = method != nullptr ? method : "";
  for (int index = 1; index <= 9; ++index) {
    const FieldPair& pair = fields.pairs[index];
    if (pair.name.kind() != ValueKind::kNarrow || pair.name.data() == nullptr) {
      continue;
    }
    const std::string label = std::string("參數 ") + pair.name.Chars();
    // An empty PIN parameter shows nothing secret, so it is logged as usual.
    if (pair.value.kind() != ValueKind::kEmpty && IsPinParameter(methodName, index)) {
      LogValue(frame, label.c_str(), kPinMask);
      continue;
    }
    LogParameter(frame, label, pair.value);
  }
}

void CallCardMethod(BridgeHost& frame, PluginModule& record, SSL* connection,
                    RequestFields& fields) {
  if (connection == nullptr) {
    return;
  }
  int32_t code = -1;
  std::u16string text;
  const char* method = MethodName(fields);
  LogValue(frame, "執行 Function", method);
  LogRequestParameters(frame, fields);

  if (const CardMethod* row = FindCardMethod(method)) {
    if (row->shape == CardMethodShape::kAgentVersion) {
      text = platform::AnsiToWide(frame.AgentVersion);
      code = 0;
    } else if (void* function =
                   ResolveMethodExport(record.moduleHandle, row->name, row->argumentBytes)) {
      code = 0;
      text = InvokeCardMethod(*row, function, fields);
    }
  }
  LogWideValue(frame, "執行結果", text.c_str());
  SendTextResponse(frame, connection, code, std::move(text));
}
