// BSTR: a length-prefixed UTF-16 text that any module of the process can free. Layout: a 32-bit
// byte length, the units, a zero unit; the pointer points at the first unit.
#pragma once

#include <cstdint>

using BSTR = char16_t*;

// A new BSTR of `units` units copied from `text` (zero-filled when `text` is null); embedded zero
// units are kept. Null when the memory cannot be had or the byte length does not fit 32 bits.
BSTR SysAllocStringLen(const char16_t* text, uint32_t units);
// Frees a BSTR of any module of the process; null is ignored.
void SysFreeString(BSTR text);
// The units within the length prefix (not up to the first zero); 0 for null.
uint32_t SysStringLen(BSTR text);
