// PluginModule: one loaded plug-in module, and the frame's table of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr int32_t kLoginModuleKind = 20;
inline constexpr int32_t kCardModuleKind = 21;

struct PluginModule {
  int32_t moduleKind = 0;
  std::u16string copyPath;       // the temporary copy that was loaded
  void* moduleHandle = nullptr;  // none when the load failed or the module was released
  uint32_t loadTick = 0;         // the DLLToken; 0 when the copy was missing
  int32_t idleMinutes = -1;      // 0 or less: never expires
  uint32_t lastUseTick = 0;
  // Calls into the module still running (a call may wait in a modal loop). The module is not
  // released, nor the record deleted, before they have returned.
  int callsInProgress = 0;
  bool releasePending = false;  // release the module and delete the copy when the calls end
  bool dropPending = false;     // then also delete the record
};

// Slots are emptied (set to null) when a record is dropped and never reused.
using PluginTable = std::vector<std::unique_ptr<PluginModule>>;
