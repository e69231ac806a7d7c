// The card maker's PKCS#11 library and the entry points one call takes from it.
#pragma once

#include "loginmodule/cryptoki.h"

// A bare name: the loader looks beside the program first, then on its normal search path.
inline constexpr char kCryptokiLibraryName[] = "QORVPKCS11.dll";

// The entry points a call uses, in the order they are looked up. C_DestroyObject is never called
// but must be there: a library without it is not the one we expect.
struct CryptokiFunctions {
  CK_C_Initialize C_Initialize = nullptr;
  CK_C_GetSlotList C_GetSlotList = nullptr;
  CK_C_OpenSession C_OpenSession = nullptr;
  CK_C_Login C_Login = nullptr;
  CK_C_FindObjectsInit C_FindObjectsInit = nullptr;
  CK_C_FindObjects C_FindObjects = nullptr;
  CK_C_FindObjectsFinal C_FindObjectsFinal = nullptr;
  CK_C_SignInit C_SignInit = nullptr;
  CK_C_Sign C_Sign = nullptr;
  CK_C_DestroyObject C_DestroyObject = nullptr;
  CK_C_GetAttributeValue C_GetAttributeValue = nullptr;
  CK_C_Logout C_Logout = nullptr;
  CK_C_CloseSession C_CloseSession = nullptr;
  CK_C_Finalize C_Finalize = nullptr;
};

// Loads the library by kCryptokiLibraryName; null when it cannot be loaded.
void* LoadCryptokiLibrary();

// Looks up all 14 entry points in `module`. False when any one is missing; `functions` is then
// left all null, so nothing of a partial table can be called.
bool ResolveCryptokiFunctions(void* module, CryptokiFunctions& functions);
