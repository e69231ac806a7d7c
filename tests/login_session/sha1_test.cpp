#include "loginmodule/sha1.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <vector>

namespace {

TEST(Sha1Digest, MatchesOpenSslAcrossThePaddingBoundaries) {
  // 55 is the longest tail that takes its length in the same block, 56 needs a second block,
  // 64 is exactly one block before the padding.
  const size_t lengths[] = {0, 1, 3, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1000, 1 << 20};
  for (const size_t length : lengths) {
    SCOPED_TRACE(length);
    std::vector<unsigned char> bytes(length);
    for (size_t i = 0; i < length; ++i) {
      bytes[i] = static_cast<unsigned char>(i * 31 + 7 + (i >> 8));
    }
    unsigned char expected[EVP_MAX_MD_SIZE];
    unsigned int expectedLength = 0;
    ASSERT_EQ(EVP_Digest(bytes.data(), length, expected, &expectedLength, EVP_sha1(), nullptr), 1);
    ASSERT_EQ(expectedLength, kSha1DigestSize);
    const auto digest = Sha1Digest(bytes.data(), length);
    EXPECT_TRUE(std::equal(digest.begin(), digest.end(), expected));
  }
}

TEST(Sha1Digest, KnownAnswer) {
  const auto digest = Sha1Digest(reinterpret_cast<const unsigned char*>("abc"), 3);
  const unsigned char expected[] = {0xA9, 0x99, 0x3E, 0x36, 0x47, 0x06, 0x81, 0x6A, 0xBA, 0x3E,
                                    0x25, 0x71, 0x78, 0x50, 0xC2, 0x6C, 0x9C, 0xD0, 0xD8, 0x9D};
  EXPECT_TRUE(std::equal(digest.begin(), digest.end(), expected));
}

}  // namespace
