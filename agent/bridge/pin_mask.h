// Keeping PINs out of the activity log: the parameters of the card and login methods that carry
// one, and the masking of their raw values in logged request texts.
#pragma once

#include <string>
#include <string_view>

// What the log shows in place of a PIN.
inline constexpr const char* kPinMask = "******";

// True when parameter `index` (1 to 9) of a call of `method` carries a PIN, whatever the module.
bool IsPinParameter(std::string_view method, int index);

// `text` (a whole request or a request line) with the raw values of the PIN parameters replaced by
// kPinMask in the query of each line, when the query's command values name a PIN method (joined
// as the dispatcher joins them). Everything else is kept byte for byte.
std::string MaskPinsInRequestText(std::string_view text);
