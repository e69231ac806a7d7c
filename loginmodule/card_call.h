// One call's hold on the card library: the steps both card operations share, from loading the
// library to finding the key, and the closing steps that undo them. Nothing outlives the object.
#pragma once

#include <optional>

#include "loginmodule/cryptoki_functions.h"
#include "loginmodule/result_line.h"

class CardCall {
 public:
  static constexpr CK_ULONG kSlotListSize = 20;

  CardCall() = default;
  ~CardCall() { Close(); }
  CardCall(const CardCall&) = delete;
  CardCall& operator=(const CardCall&) = delete;

  // Loads the library, looks up its entry points, initialises it and opens a read-write session
  // on the card's slot. Each method gives the first failure, or nothing when all went well.
  std::optional<Failure> Open();
  // Logs the user in; the session then counts as logged in, up to Close.
  std::optional<Failure> Login(CK_UTF8CHAR* pin, CK_ULONG length);
  // The first key object of `keyClass` that the library returns.
  std::optional<Failure> FindKey(CK_OBJECT_CLASS keyClass, CK_OBJECT_HANDLE& key);
  // Logout, CloseSession, Finalize and unloading, each only as far as the call got, their
  // results ignored. Safe to call again.
  void Close();

  const CryptokiFunctions& functions() const { return functions_; }
  CK_SESSION_HANDLE session() const { return session_; }

 private:
  void* module_ = nullptr;
  CryptokiFunctions functions_;
  bool finalize_ = false;
  bool sessionOpen_ = false;
  bool loggedIn_ = false;
  CK_SESSION_HANDLE session_ = 0;
  CK_SLOT_ID slots_[kSlotListSize] = {};
};
