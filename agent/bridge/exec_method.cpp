#include "agent/bridge/plugin_loading.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "agent/bridge/card_methods.h"
#include "agent/bridge/login_methods.h"
#include "agent/endpoint/response_writer.h"
#include "agent/log/log_writer.h"
#include "platform/tick_counter.h"

namespace {

const char16_t kNoToken[] = u"沒有指定 DllToken, 無法執行";

// Read as atoi reads (white space, sign, digits up to the first other character; none gives 0),
// but defined for any length: numbers beyond 32 bits are held at the nearest limit.
int32_t ReadTokenNumber(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) {
    ++text;
  }
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') {
    ++text;
  }
  int64_t number = 0;
  constexpr int64_t kBeyond = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; *text >= '0' && *text <= '9'; ++text) {
    number = std::min(number * 10 + (*text - '0'), kBeyond);
  }
  number = negative ? -number : std::min(number, kBeyond - 1);
  return static_cast<int32_t>(number);
}

void CallMethod(BridgeHost& frame, PluginModule& record, SSL* connection, RequestFields& fields) {
  // The record outlives a finalize or sweep that runs while the call waits in a modal loop.
  ModuleCall call(frame, record);
  if (record.moduleKind == kLoginModuleKind) {
    CallLoginMethod(frame, record, connection, fields);
  } else if (record.moduleKind == kCardModuleKind) {
    CallCardMethod(frame, record, connection, fields);
  }
}

}  // namespace

void HandleExecMethod(const char* token, BridgeHost& frame, SSL* connection,
                      RequestFields& fields) {
  if (connection == nullptr) {
    return;
  }
  const int32_t number = token != nullptr ? ReadTokenNumber(token) : 0;
  if (number == 0) {
    LogErrorText(frame, kNoToken);
    SendTextResponse(frame, connection, -1, kNoToken);
    return;
  }
  PluginModule* record = FindModuleByToken(frame, number);
  if (record == nullptr) {
    SendResponse(connection, "OKKK", frame, -1);
    return;
  }
  const uint32_t now = platform::GetTickCount();
  if (IsModuleExpired(*record, now)) {
    DropModuleRecord(frame, *record);
    SendResponse(connection, "OKKK", frame, -1);
    return;
  }
  record->lastUseTick = now;
  const char* method = fields.pairs[0].value.NarrowText();
  if (method != nullptr && std::strcmp(method, "finalize") == 0) {
    DropModuleRecord(frame, *record);
    SendTextResponse(frame, connection, 0, u"Finalized");
    return;
  }
  CallMethod(frame, *record, connection, fields);
}
