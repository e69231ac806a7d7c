// The life of PluginTable records: expiry, release, drop, and calls in progress.
#include "agent/bridge/plugin_loading.h"

#include "platform/file_helpers.h"
#include "platform/module_loader.h"
#include "platform/text_conversion.h"
#include "platform/tick_counter.h"

namespace {

constexpr uint64_t kMillisecondsPerMinute = 60000;

void EmptySlot(BridgeHost& frame, const PluginModule& record) {
  for (auto& slot : frame.PluginTable) {
    if (slot.get() == &record) {
      slot.reset();
      return;
    }
  }
}

}  // namespace

bool IsModuleExpired(const PluginModule& record, uint32_t now) {
  if (record.idleMinutes <= 0) {
    return false;
  }
  // The difference stays right when the counter wraps between the last use and now; the limit
  // is computed wide so that large minute counts do not wrap either.
  const uint32_t idle = now - record.lastUseTick;
  return idle > static_cast<uint64_t>(record.idleMinutes) * kMillisecondsPerMinute;
}

void ApplyIdleLimit(BridgeHost& frame, int32_t minutes) {
  if (minutes <= 0) {
    return;
  }
  for (const auto& slot : frame.PluginTable) {
    if (slot == nullptr || slot->dropPending) {
      continue;
    }
    const uint32_t now = platform::GetTickCount();
    if (!IsModuleExpired(*slot, now)) {
      slot->lastUseTick = now;
      slot->idleMinutes = minutes;
    }
  }
}

void ReleaseModuleCopy(PluginModule& record) {
  if (record.moduleHandle != nullptr) {
    platform::FreeModule(record.moduleHandle);
    record.moduleHandle = nullptr;
  }
  const std::string copyPath = platform::WideToAnsi(record.copyPath);
  if (!copyPath.empty() && platform::PathExists(copyPath)) {
    platform::DeleteFileAt(copyPath);
  }
  record.releasePending = false;
}

void DropModuleRecord(BridgeHost& frame, PluginModule& record) {
  if (record.callsInProgress > 0) {
    record.releasePending = true;
    record.dropPending = true;
    return;
  }
  ReleaseModuleCopy(record);
  EmptySlot(frame, record);
}

PluginModule* FindModuleByToken(BridgeHost& frame, int32_t token) {
  for (const auto& slot : frame.PluginTable) {
    if (slot != nullptr && !slot->dropPending && static_cast<int32_t>(slot->loadTick) == token) {
      return slot.get();
    }
  }
  return nullptr;
}

ModuleCall::ModuleCall(BridgeHost& frame, PluginModule& record) : frame_(frame), record_(record) {
  ++record_.callsInProgress;
}

ModuleCall::~ModuleCall() {
  if (--record_.callsInProgress > 0) {
    return;
  }
  if (record_.dropPending) {
    DropModuleRecord(frame_, record_);  // deletes the record
  } else if (record_.releasePending) {
    ReleaseModuleCopy(record_);
  }
}
