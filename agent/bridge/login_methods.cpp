#include "agent/bridge/login_methods.h"

#include <cstring>

#include "agent/bridge/card_method_table.h"
#include "agent/bridge/card_methods.h"
#include "agent/endpoint/response_writer.h"
#include "agent/log/log_writer.h"
#include "platform/bstr.h"
#include "platform/winapi.h"

namespace {

enum class LoginMethodShape {
  kTextOfTwoTexts,  // BSTR (const char16_t* Param1, const char16_t* Param2)
  kText             // BSTR ()
};

struct LoginMethod {
  const char* name;
  int argumentBytes;
  LoginMethodShape shape;
};

constexpr LoginMethod kLoginMethods[] = {
    {"sign", 8, LoginMethodShape::kTextOfTwoTexts},
    {"getKey", 0, LoginMethodShape::kText},
};

using SignFunction = BSTR(WINAPI*)(const char16_t*, const char16_t*);
using GetKeyFunction = BSTR(WINAPI*)();

const LoginMethod* FindLoginMethod(const char* method) {
  if (method == nullptr) {
    return nullptr;
  }
  for (const LoginMethod& row : kLoginMethods) {
    if (std::strcmp(row.name, method) == 0) {
      return &row;
    }
  }
  return nullptr;
}

// The BSTR is ours: its text is copied up to the first zero and the string released.
std::u16string TakeText(BSTR result) {
  std::u16string text = result != nullptr ? std::u16string(result) : std::u16string();
  SysFreeString(result);
  return text;
}

std::u16string InvokeLoginMethod(const LoginMethod& row, void* function,
                                 const RequestFields& fields) {
  switch (row.shape) {
    case LoginMethodShape::kTextOfTwoTexts:
      return TakeText(reinterpret_cast<SignFunction>(function)(TextArgument(fields, 1),
                                                               TextArgument(fields, 2)));
    case LoginMethodShape::kText:
      return TakeText(reinterpret_cast<GetKeyFunction>(function)());
  }
  return {};
}

}  // namespace

void CallLoginMethod(BridgeHost& frame, PluginModule& record, SSL* connection,
                     RequestFields& fields) {
  if (connection == nullptr) {
    return;
  }
  int32_t code = -1;
  std::u16string text;
  const char* method = fields.pairs[0].value.NarrowText();
  LogValue(frame, "執行 Function", method);
  LogRequestParameters(frame, fields);

  if (const LoginMethod* row = FindLoginMethod(method)) {
    if (void* function = ResolveMethodExport(record.moduleHandle, row->name, row->argumentBytes)) {
      code = 0;
      text = InvokeLoginMethod(*row, function, fields);
    }
  }
  LogWideValue(frame, "執行結果", text.c_str());
  SendTextResponse(frame, connection, code, std::move(text));
}
