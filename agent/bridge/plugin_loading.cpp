#include "agent/bridge/plugin_loading.h"

#include <openssl/rand.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "agent/bridge/verification_list.h"
#include "agent/endpoint/response_writer.h"
#include "agent/log/log_writer.h"
#include "platform/file_helpers.h"
#include "platform/module_loader.h"
#include "platform/new_file.h"
#include "platform/text_conversion.h"
#include "platform/tick_counter.h"

namespace {

const char16_t kVerifyFailed[] = u"驗證 DLL 檔失敗";
const char16_t kCannotLoad[] = u"指定的 DLL 無法載入";

struct ModuleChoice {
  int32_t kind;
  const char* fileName;
};

// Only the prefix counts, case-sensitively: DorVIKA, DorVIKA.dll and DorVIKAxyz are one module.
bool ChooseModule(const char* requested, ModuleChoice& choice) {
  if (requested == nullptr) {
    return false;
  }
  if (std::strncmp(requested, "Quillomat", 9) == 0) {
    choice = {kLoginModuleKind, "Quillomat.dll"};
    return true;
  }
  if (std::strncmp(requested, "DorVIKA", 7) == 0) {
    choice = {kCardModuleKind, "DorVIKA.dll"};
    return true;
  }
  return false;
}

// No folder gives no path, so that nothing is read from the root or the working folder instead.
std::string InFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) {
    return {};
  }
  return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// The module file is read once: the bytes checked here are the bytes copied later, so the file
// cannot be swapped in between. False when the answer has been given.
bool ReadVerifiedModule(SSL* connection, BridgeHost& frame, const char* fileName,
                        ValueBuffer& bytes) {
  if (!LoadVerificationList(InFolder(frame.AgentDirectory, "Ostrabel.ini"),
                            frame.VerificationList)) {
    LogError(frame, "載入 Ostrabel.ini 失敗");
    SendTextResponse(frame, connection, -1, kVerifyFailed);
    return false;
  }
  const int index = FindVerificationEntry(frame.VerificationList, fileName);
  if (index == -1) {
    LogErrorValue(frame, "驗證 DLL 檔失敗，未知的 DLL 檔", fileName);
    SendTextResponse(frame, connection, -1, kVerifyFailed);
    return false;
  }
  if (!ReadWholeFile(InFolder(frame.AgentDirectory, fileName), bytes) ||
      !VerifyModuleBytes(frame.VerificationList, index, bytes)) {
    LogError(frame, "驗證 DLL 檔失敗，驗證值不符");
    SendTextResponse(frame, connection, -1, kVerifyFailed);
    return false;
  }
  LogMessage(frame, "驗證 DLL 檔成功");
  return true;
}

std::unique_ptr<PluginModule> LoadCopy(BridgeHost& frame, int32_t kind,
                                       const std::string& copyName) {
  auto record = std::make_unique<PluginModule>();
  record->moduleKind = kind;
  const std::string copyPath = InFolder(frame.TempDirectory, copyName);
  record->copyPath = platform::AnsiToWide(copyPath);
  if (platform::PathExists(copyPath)) {
    record->moduleHandle = platform::LoadModule(copyPath);
    record->loadTick = platform::GetTickCount();
    if (record->moduleHandle != nullptr) {
      record->lastUseTick = platform::GetTickCount();
    }
  }
  return record;
}

void AnswerToken(SSL* connection, BridgeHost& frame, PluginModule& record) {
  record.lastUseTick = platform::GetTickCount();
  record.idleMinutes = frame.ServiceWaitMinutes;
  LogNumber(frame, "設定服務等候時間(分鐘) :", frame.ServiceWaitMinutes);
  const std::string token = std::to_string(static_cast<int32_t>(record.loadTick));
  SendResponse(connection, token.c_str(), frame, 0);
}

}  // namespace

void HandleInitDll(SSL* connection, BridgeHost& frame, RequestFields& fields) {
  if (connection == nullptr) {
    return;
  }
  ModuleChoice choice{};
  if (!ChooseModule(fields.pairs[0].value.NarrowText(), choice)) {
    SendTextResponse(frame, connection, -1, u"無效的 DLL 檔名");
    return;
  }
  LogValue(frame, "即將載入 DLL 路徑", frame.AgentDirectory.c_str());
  LogValue(frame, "即將載入 DLL 檔名", choice.fileName);
  ValueBuffer bytes;
  if (!ReadVerifiedModule(connection, frame, choice.fileName, bytes)) {
    return;
  }
  const std::string suffix = MakeCopySuffix();
  const std::string copyName = "OSTRABEL.dll-" + suffix;
  LogValue(frame, "即將載入 DLL TEMP 路徑", frame.TempDirectory.c_str());
  LogValue(frame, "即將載入 DLL TEMP 檔名", copyName.c_str());
  if (suffix.empty() || !CopyModuleToTemp(frame, bytes, copyName)) {
    SendTextResponse(frame, connection, -1, kCannotLoad);
    return;
  }
  frame.PluginTable.push_back(LoadCopy(frame, choice.kind, copyName));
  PluginModule& record = *frame.PluginTable.back();
  if (record.loadTick != 0) {
    AnswerToken(connection, frame, record);
  } else {
    SendTextResponse(frame, connection, -1, kCannotLoad);
  }
}

std::string RandomHex(int count) {
  if (count <= 0) {
    return {};
  }
  std::vector<unsigned char> bytes(static_cast<size_t>(count));
  if (RAND_bytes(bytes.data(), count) != 1) {
    return {};
  }
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    text += digits;
  }
  return text;
}

std::string MakeCopySuffix() {
  std::string suffix;
  for (const int count : {4, 2, 2, 2, 6}) {
    const std::string part = RandomHex(count);
    if (part.empty()) {
      return {};
    }
    suffix += suffix.empty() ? part : "-" + part;
  }
  return suffix;
}

bool CopyModuleToTemp(BridgeHost& frame, const ValueBuffer& bytes, const std::string& copyName) {
  if (frame.TempDirectory.empty() || bytes.length() <= 0) {
    return false;
  }
  return platform::WriteNewFile(InFolder(frame.TempDirectory, copyName), bytes.data(),
                                static_cast<size_t>(bytes.length()));
}
