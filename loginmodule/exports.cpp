// The module's two plain exports. Their symbol names are the decorated ones with "@" spelled "$",
// which is how the loader looks them up; there are no undecorated aliases.
#include <string>

#include "loginmodule/card_session.h"
#include "loginmodule/pin_dialog_scope.h"
#include "platform/bstr.h"
#include "platform/module_state.h"
#include "platform/text_conversion.h"
#include "platform/winapi.h"

#define QUILLOMAT_EXPORT __attribute__((visibility("default")))

extern "C" {
QUILLOMAT_EXPORT BSTR WINAPI QuillomatSign(const char16_t* pin,
                                           const char16_t* data) __asm__("_sign$8");
QUILLOMAT_EXPORT BSTR WINAPI QuillomatGetKey() __asm__("_getKey$0");
}

namespace {

// The caller owns the result and frees it with SysFreeString. When no BSTR can be had, the null
// pointer reads as an empty text to every caller.
BSTR ResultText(const std::string& line) {
  const std::u16string text = platform::AnsiToWide(line);
  return SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
}

}  // namespace

BSTR WINAPI QuillomatSign(const char16_t* pin, const char16_t* data) {
  const platform::ModuleStateScope state;
  return ResultText(SignWithCardKey(pin, data));
}

BSTR WINAPI QuillomatGetKey() {
  const platform::ModuleStateScope state;
  PinDialogScope dialog;
  return ResultText(ReadCardPublicKey(dialog.prompt()));
}
