#include "platform/module_loader.h"

#include <dlfcn.h>

#include <algorithm>

#include "platform/file_helpers.h"
#include "platform/program_path.h"

namespace platform {
namespace {

void SetError(std::string* error, const char* text) {
  if (error != nullptr) {
    *error = text != nullptr ? text : "unknown loader error";
  }
}

// A bare name means the module beside the program first, as the Windows loader searches.
std::string ResolveModulePath(const std::string& path) {
  if (path.find('/') != std::string::npos) {
    return path;
  }
  const std::string besideProgram = ProgramFolder() + path;
  return PathExists(besideProgram) ? besideProgram : path;
}

}  // namespace

void* LoadModule(const std::string& path, std::string* error) {
  if (path.empty()) {
    // dlopen would hand back the program itself.
    SetError(error, "empty module path");
    return nullptr;
  }
  dlerror();
  void* module = dlopen(ResolveModulePath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    SetError(error, dlerror());
  }
  return module;
}

void* FindExport(void* module, const char* name) {
  if (module == nullptr || name == nullptr || *name == '\0') {
    return nullptr;
  }
  std::string symbol(name);
  std::replace(symbol.begin(), symbol.end(), '@', '$');
  return dlsym(module, symbol.c_str());
}

bool FreeModule(void* module, std::string* error) {
  if (module == nullptr) {
    SetError(error, "no module");
    return false;
  }
  dlerror();
  if (dlclose(module) != 0) {
    SetError(error, dlerror());
    return false;
  }
  return true;
}

}  // namespace platform
