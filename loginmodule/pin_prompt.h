// How the signing session asks the user for the card PIN (the PIN dialog in the module; a fake
// in tests).
#pragma once

#include <string>

class PinPrompt {
 public:
  virtual ~PinPrompt() = default;
  // Shows the prompt modally; the accepted PIN, or an empty text when the user cancelled.
  virtual std::u16string AskPin() = 0;
};
