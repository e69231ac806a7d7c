#include "agent/bridge/idle_modules.h"

#include "agent/bridge/plugin_loading.h"
#include "agent/log/log_writer.h"
#include "platform/tick_counter.h"

void ExpireIdleModules(BridgeHost& frame) {
  for (const auto& slot : frame.PluginTable) {
    PluginModule* record = slot.get();
    if (record == nullptr || record->moduleHandle == nullptr || record->releasePending) {
      continue;
    }
    if (!IsModuleExpired(*record, platform::GetTickCount())) {
      continue;
    }
    if (record->callsInProgress > 0) {
      record->releasePending = true;  // released when the running call returns
    } else {
      ReleaseModuleCopy(*record);
    }
    LogNumber(frame, "偵測到服務作業已過期, DLL Handle", static_cast<int32_t>(record->loadTick));
  }
}
