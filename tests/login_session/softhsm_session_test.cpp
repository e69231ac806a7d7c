// Both card operations against a real PKCS#11 token: SoftHSM, set up by
// tests/login_token/make-softhsm-token.sh in a private folder for each test process. The key is
// on the token listed second; the first one has none, so finding it shows the slot choice.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <regex>

#include "loginmodule/card_session.h"
#include "platform/program_path.h"
#include "platform/scratch_folder.h"
#include "support/rsa_check.h"
#include "support/softhsm_token.h"

namespace {

constexpr char kKeyLabel[] = "Quillomat test key";

class FixedPrompt : public PinPrompt {
 public:
  explicit FixedPrompt(std::u16string pin) : pin_(std::move(pin)) {}
  std::u16string AskPin() override {
    ++asked;
    if (during) {
      duringResult = during();
    }
    return pin_;
  }

  int asked = 0;
  std::function<std::string()> during;
  std::string duringResult;

 private:
  std::u16string pin_;
};

using testing_support::Fields;
using testing_support::PublicKey;
using testing_support::RsaPublicKey;
using testing_support::Verifies;

class SoftHsmCardSession : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    token_ = new platform_test::ScratchFolder;
    const auto token = testing_support::MakeSoftHsmToken(MAKE_TOKEN_SCRIPT, token_->path());
    skip_ = token.skipped;
    problem_ = token.problem;
  }
  static void TearDownTestSuite() {
    unsetenv("SOFTHSM2_CONF");
    delete token_;
    token_ = nullptr;
  }
  void SetUp() override {
    if (skip_) {
      GTEST_SKIP() << problem_;
    }
    ASSERT_TRUE(problem_.empty()) << problem_;
  }

  static inline platform_test::ScratchFolder* token_ = nullptr;
  static inline std::string problem_;
  static inline bool skip_ = false;
};

TEST_F(SoftHsmCardSession, SignaturesVerifyWithThePublicKeyThatGetKeyReads) {
  FixedPrompt prompt(u"1234");
  const std::vector<std::string> key = Fields(ReadCardPublicKey(prompt));
  ASSERT_EQ(key.size(), 4u) << ::testing::PrintToString(key);
  EXPECT_EQ(key[0], "0");
  EXPECT_EQ(key[1], kKeyLabel);
  EXPECT_EQ(key[2], "010001");
  EXPECT_EQ(key[3].size(), 512u);
  EXPECT_EQ(prompt.asked, 1);
  const PublicKey publicKey = RsaPublicKey(key[2], key[3]);
  ASSERT_NE(publicKey, nullptr);

  const struct {
    std::u16string data;
    std::string bytes;  // UTF-8, the ANSI code page here
  } texts[] = {
      {u"Login challenge 0042", "Login challenge 0042"},
      {u"", ""},
      {u"Grüße 鍵 😀",
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE9\x8D\xB5 \xF0\x9F\x98\x80"},
  };
  const std::regex upperHex("[0-9A-F]{512}");
  for (const auto& text : texts) {
    SCOPED_TRACE(text.bytes);
    const std::vector<std::string> sign = Fields(SignWithCardKey(u"1234", text.data.c_str()));
    ASSERT_EQ(sign.size(), 3u) << ::testing::PrintToString(sign);
    EXPECT_EQ(sign[0], "0");
    EXPECT_EQ(sign[1], kKeyLabel);
    EXPECT_TRUE(std::regex_match(sign[2], upperHex)) << sign[2];
    EXPECT_TRUE(Verifies(publicKey.get(), text.bytes, sign[2]));
    EXPECT_FALSE(Verifies(publicKey.get(), text.bytes + ".", sign[2]));
  }
}

TEST_F(SoftHsmCardSession, AWrongPinGives160FromCLogin) {
  EXPECT_EQ(SignWithCardKey(u"4321", u"data"), "160,C_Login");
  FixedPrompt prompt(u"4321");
  EXPECT_EQ(ReadCardPublicKey(prompt), "160,C_Login");
}

TEST_F(SoftHsmCardSession, NoPinFromThePromptGivesCode5) {
  FixedPrompt prompt(u"");
  EXPECT_EQ(ReadCardPublicKey(prompt), "5,C_Login");
  EXPECT_EQ(prompt.asked, 1);
  // The library was finalised: the next call starts afresh.
  EXPECT_EQ(Fields(SignWithCardKey(u"1234", u"data"))[0], "0");
}

TEST_F(SoftHsmCardSession, ACallInsideThePinPromptGets401AndTheOuterCallCompletes) {
  FixedPrompt prompt(u"1234");
  prompt.during = [] { return SignWithCardKey(u"1234", u"inner"); };
  const std::vector<std::string> key = Fields(ReadCardPublicKey(prompt));
  EXPECT_EQ(prompt.duringResult, "401,Could not initialize cryptoki");
  ASSERT_EQ(key.size(), 4u) << ::testing::PrintToString(key);
  EXPECT_EQ(key[0], "0");
  EXPECT_EQ(key[3].size(), 512u);
}

}  // namespace
