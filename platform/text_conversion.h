// Conversions between the thread's ANSI code page (UTF-8 on this platform), UTF-8 and UTF-16.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// ANSI (UTF-8) to UTF-16. Bytes that do not form valid UTF-8 become "?" each.
std::u16string AnsiToWide(std::string_view text);

// The same into `out`, replacing its content but keeping its storage.
void AnsiToWideInto(std::string_view text, std::u16string& out);

// UTF-16 to ANSI (UTF-8). Units that cannot be converted (lone surrogates) become "?".
std::string WideToAnsi(std::u16string_view text);

// Strict UTF-8 to UTF-16: any invalid sequence (overlong forms, surrogates, truncated or stray
// continuation bytes, code points above U+10FFFF) makes the whole conversion fail.
std::optional<std::u16string> Utf8ToWideStrict(std::string_view text);

// UTF-16 to UTF-8; lone surrogates become "?".
std::string WideToUtf8(std::u16string_view text);

// Length of a zero-terminated UTF-16 text; 0 for a null pointer.
size_t WideLength(const char16_t* text);

}  // namespace platform
