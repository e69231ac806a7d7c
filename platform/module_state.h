// The module state switch of an exported entry point. Here every module finds its own resources,
// so there is nothing to switch; the scope marks where the entry points hold their own state.
#pragma once

namespace platform {

class ModuleStateScope {
 public:
  ModuleStateScope() {}
  ~ModuleStateScope() {}
  ModuleStateScope(const ModuleStateScope&) = delete;
  ModuleStateScope& operator=(const ModuleStateScope&) = delete;
};

}  // namespace platform
