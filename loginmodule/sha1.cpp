#include "loginmodule/sha1.h"

#include <cstdint>

namespace {

constexpr size_t kBlockSize = 64;

uint32_t RotateLeft(uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

void CompressBlock(uint32_t state[5], const unsigned char* block) {
  uint32_t w[80];
  for (int t = 0; t < 16; ++t) {
    w[t] = (uint32_t{block[4 * t]} << 24) | (uint32_t{block[4 * t + 1]} << 16) |
           (uint32_t{block[4 * t + 2]} << 8) | uint32_t{block[4 * t + 3]};
  }
  for (int t = 16; t < 80; ++t) {
    w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f = 0;
    uint32_t k = 0;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const uint32_t temp = RotateLeft(a, 5) + f + e + k + w[t];
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = temp;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

}  // namespace

std::array<unsigned char, kSha1DigestSize> Sha1Digest(const unsigned char* bytes, size_t length) {
  uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  size_t done = 0;
  for (; length - done >= kBlockSize; done += kBlockSize) {
    CompressBlock(state, bytes + done);
  }

  // The tail, 0x80, zeros and the bit length fill one block, or two when fewer than 9 bytes
  // remain after the tail.
  unsigned char last[2 * kBlockSize] = {};
  const size_t tail = length - done;
  for (size_t i = 0; i < tail; ++i) {
    last[i] = bytes[done + i];
  }
  last[tail] = 0x80;
  const size_t lastSize = tail + 9 <= kBlockSize ? kBlockSize : 2 * kBlockSize;
  const uint64_t bitLength = static_cast<uint64_t>(length) * 8;
  for (int i = 0; i < 8; ++i) {
    last[lastSize - 1 - i] = static_cast<unsigned char>(bitLength >> (8 * i));
  }
  for (size_t offset = 0; offset < lastSize; offset += kBlockSize) {
    CompressBlock(state, last + offset);
  }

  std::array<unsigned char, kSha1DigestSize> digest{};
  for (size_t i = 0; i < kSha1DigestSize; ++i) {
    digest[i] = static_cast<unsigned char>(state[i / 4] >> (24 - 8 * (i % 4)));
  }
  return digest;
}
