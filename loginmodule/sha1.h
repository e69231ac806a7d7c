// SHA-1 (FIPS 180-4), for the DigestInfo block the card signs.
#pragma once

#include <array>
#include <cstddef>

inline constexpr size_t kSha1DigestSize = 20;

std::array<unsigned char, kSha1DigestSize> Sha1Digest(const unsigned char* bytes, size_t length);
