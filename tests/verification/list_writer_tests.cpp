#include "tools/ostrabel_list/list_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "agent/bridge/list_blocks.h"
#include "agent/bridge/verification_list.h"
#include "list_test_support.h"

namespace {

using list_test::Bytes;
using list_test::DevFile;
using list_test::ReadBytes;
using list_test::ReadText;

TEST(CertificateSalt, IsTheDigestOfTheDerWhetherGivenDerOrPem) {
  const Bytes der = ReadBytes(DevFile("localhost.crt.der"));
  ValueBuffer expected;
  Sha256Digest(expected, der.data(), der.size());
  for (const char* file : {"localhost.crt.der", "localhost.crt.pem"}) {
    Bytes salt;
    std::string error;
    ASSERT_TRUE(ostrabel_list::CertificateSalt(ReadBytes(DevFile(file)), salt, error)) << error;
    EXPECT_EQ(salt, Bytes(expected.data(), expected.data() + expected.length())) << file;
  }
  Bytes salt;
  std::string error;
  EXPECT_FALSE(
      ostrabel_list::CertificateSalt(ReadBytes(DevFile("list-signing.pub.pem")), salt, error));
  EXPECT_FALSE(error.empty());
  Bytes truncated = der;
  truncated.pop_back();
  EXPECT_FALSE(ostrabel_list::CertificateSalt(truncated, salt, error));
}

TEST(SignListText, OpensToThePaddedTextWithThePublicKey) {
  const std::string plain(300, 'x');
  std::string hex, error;
  ASSERT_TRUE(
      ostrabel_list::SignListText(plain, ReadText(DevFile("list-signing.key.pem")), hex, error))
      << error;
  EXPECT_EQ(hex.size(), 2u * 512);
  EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  std::vector<uint8_t> opened;
  ASSERT_EQ(OpenListBlocks(hex.c_str(), ReadText(DevFile("list-signing.pub.pem")), opened),
            ListBlocksResult::kOpened);
  std::string expected = plain;
  expected.resize(512, '\0');
  EXPECT_EQ(std::string(opened.begin(), opened.end()), expected);
}

TEST(SignListText, RefusesABlockNotBelowTheModulusAndKeysThatAreNot) {
  std::string hex, error;
  const std::string key = ReadText(DevFile("list-signing.key.pem"));
  const std::string tooLarge = "x = y\r\n" + std::string(249, ' ') + std::string(256, '\xFF');
  EXPECT_FALSE(ostrabel_list::SignListText(tooLarge, key, hex, error));
  EXPECT_NE(error.find("block 2 begins with bytes too large"), std::string::npos) << error;
  EXPECT_TRUE(hex.empty());
  EXPECT_FALSE(
      ostrabel_list::SignListText("x", ReadText(DevFile("list-signing.pub.pem")), hex, error));
}

}  // namespace
