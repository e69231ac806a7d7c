// Modal message boxes. They run a nested event loop that keeps delivering socket and timer events.
#pragma once

#include <string>

namespace platform {

inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows the box and returns the button chosen (IDOK, IDYES or IDNO); closing a Yes/No box
// without a choice answers IDNO.
int MessageBox(const std::u16string& text, const std::u16string& caption, unsigned type);

}  // namespace platform
