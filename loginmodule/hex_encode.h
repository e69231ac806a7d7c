// Bytes as text: two upper-case hexadecimal digits per byte, high nibble first, no separators.
#pragma once

#include <cstddef>
#include <string>

// A length of 0 or less gives an empty text.
std::string HexEncode(const unsigned char* bytes, std::ptrdiff_t length);
