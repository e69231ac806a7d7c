#include "loginmodule/cryptoki_functions.h"

#include "platform/module_loader.h"

namespace {

template <typename Function>
bool Resolve(void* module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(platform::FindExport(module, name));
  return function != nullptr;
}

}  // namespace

void* LoadCryptokiLibrary() {
  return platform::LoadModule(kCryptokiLibraryName);
}

bool ResolveCryptokiFunctions(void* module, CryptokiFunctions& functions) {
  CryptokiFunctions found;
  const bool complete = Resolve(module, "C_Initialize", found.C_Initialize) &&
                        Resolve(module, "C_GetSlotList", found.C_GetSlotList) &&
                        Resolve(module, "C_OpenSession", found.C_OpenSession) &&
                        Resolve(module, "C_Login", found.C_Login) &&
                        Resolve(module, "C_FindObjectsInit", found.C_FindObjectsInit) &&
                        Resolve(module, "C_FindObjects", found.C_FindObjects) &&
                        Resolve(module, "C_FindObjectsFinal", found.C_FindObjectsFinal) &&
                        Resolve(module, "C_SignInit", found.C_SignInit) &&
                        Resolve(module, "C_Sign", found.C_Sign) &&
                        Resolve(module, "C_DestroyObject", found.C_DestroyObject) &&
                        Resolve(module, "C_GetAttributeValue", found.C_GetAttributeValue) &&
                        Resolve(module, "C_Logout", found.C_Logout) &&
                        Resolve(module, "C_CloseSession", found.C_CloseSession) &&
                        Resolve(module, "C_Finalize", found.C_Finalize);
  functions = complete ? found : CryptokiFunctions{};
  return complete;
}
