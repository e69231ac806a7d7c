// The PIN dialog of one getKey call, for a host that may or may not run a Qt application.
#pragma once

#include <memory>

#include "loginmodule/pin_prompt.h"

class PinDialogScope {
 public:
  // Creates the dialog (hidden) on the host's application; a host without one gets an application
  // for the duration of the scope. A host whose application cannot show widgets gets a prompt
  // that answers as a cancelled dialog.
  PinDialogScope();
  ~PinDialogScope();
  PinDialogScope(const PinDialogScope&) = delete;
  PinDialogScope& operator=(const PinDialogScope&) = delete;

  PinPrompt& prompt();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};
