#include "loginmodule/card_call.h"

#include <algorithm>

#include "platform/module_loader.h"

std::optional<Failure> CardCall::Open() {
  module_ = LoadCryptokiLibrary();
  if (module_ == nullptr) {
    return Failure{kCodeLibraryUnusable, "Load error"};
  }
  if (!ResolveCryptokiFunctions(module_, functions_)) {
    return Failure{kCodeLibraryUnusable, "Function error"};
  }

  finalize_ = true;
  CK_RV rv = functions_.C_Initialize(nullptr);
  if (rv != CKR_OK) {
    // Another call in this process is still using the library (one started from inside its PIN
    // prompt); finalising here would end the library state under it.
    if (rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) {
      finalize_ = false;
    }
    return Failure{rv, "Could not initialize cryptoki"};
  }

  CK_ULONG count = 0;
  rv = functions_.C_GetSlotList(CK_TRUE, nullptr, &count);
  if (rv != CKR_OK) {
    return Failure{rv, "Could not open SlotList"};
  }
  if (count == 0) {
    return Failure{kCodeNoToken, "No Token error"};
  }
  // With more cards than the list holds, a library that keeps to the standard answers
  // CKR_BUFFER_TOO_SMALL rather than writing past it.
  count = std::min(count, kSlotListSize);
  rv = functions_.C_GetSlotList(CK_TRUE, slots_, &count);
  if (rv != CKR_OK) {
    return Failure{rv, "Could not get SlotList"};
  }

  // The module has always used the second slot listed. With only one listed, that entry is still
  // zero from the zero-filled list, so slot ID 0 is opened.
  rv = functions_.C_OpenSession(slots_[1], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                &session_);
  if (rv != CKR_OK) {
    return Failure{rv, "C_OpenSession"};
  }
  sessionOpen_ = true;
  return std::nullopt;
}

std::optional<Failure> CardCall::Login(CK_UTF8CHAR* pin, CK_ULONG length) {
  const CK_RV rv = functions_.C_Login(session_, CKU_USER, pin, length);
  if (rv != CKR_OK) {
    return Failure{rv, "C_Login"};
  }
  loggedIn_ = true;
  return std::nullopt;
}

std::optional<Failure> CardCall::FindKey(CK_OBJECT_CLASS keyClass, CK_OBJECT_HANDLE& key) {
  CK_ATTRIBUTE search[] = {{CKA_CLASS, &keyClass, sizeof keyClass}};
  CK_RV rv = functions_.C_FindObjectsInit(session_, search, 1);
  if (rv != CKR_OK) {
    return Failure{rv, "C_FindObjectsInit"};
  }
  CK_ULONG found = 0;
  rv = functions_.C_FindObjects(session_, &key, 1, &found);
  if (rv != CKR_OK) {
    return Failure{rv, "C_FindObjects"};
  }
  rv = functions_.C_FindObjectsFinal(session_);
  if (rv != CKR_OK) {
    return Failure{rv, "C_FindObjects"};
  }
  if (found == 0) {
    return Failure{kCodeNotFound, "FindObject"};
  }
  return std::nullopt;
}

void CardCall::Close() {
  if (module_ == nullptr) {
    return;
  }
  if (sessionOpen_) {
    if (loggedIn_) {
      functions_.C_Logout(session_);
    }
    functions_.C_CloseSession(session_);
  }
  if (finalize_) {
    functions_.C_Finalize(nullptr);
  }
  platform::FreeModule(module_);
  module_ = nullptr;
  functions_ = CryptokiFunctions{};
  finalize_ = sessionOpen_ = loggedIn_ = false;
  session_ = 0;
}
