// The whole path on a real token: a page's getKey and sign through the agent over HTTPS, the built
// module, and SoftHSM as the card library, set up by tests/login_token/make-softhsm-token.sh.
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
#include <memory>

#include "bridge/bridge_fixture.h"
#include "pin_dialog_watch.h"
#include "platform/program_path.h"
#include "platform/scratch_folder.h"
#include "platform/tick_counter.h"
#include "support/rsa_check.h"
#include "support/softhsm_token.h"

namespace bridge_test {
namespace {

using testing_support::PublicKey;
using testing_support::RsaPublicKey;
using testing_support::Verifies;

using testing_support::Fields;

// The module's text from a body "||0||text||"; empty when the code is not 0.
std::string ModuleText(const std::string& body) {
  if (!body.starts_with("||0||") || !body.ends_with("||") || body.size() < 7) {
    return {};
  }
  return body.substr(5, body.size() - 7);
}

class SoftHsmLoginCalls : public BridgeTest {
 protected:
  static void SetUpTestSuite() {
    token_ = new platform_test::ScratchFolder;
    const auto token = testing_support::MakeSoftHsmToken(MAKE_TOKEN_SCRIPT, token_->path());
    (token.skipped ? skip_ : problem_) = token.problem;
  }
  static void TearDownTestSuite() {
    unsetenv("SOFTHSM2_CONF");
    delete token_;
    token_ = nullptr;
  }

  void SetUp() override {
    if (!skip_.empty()) {
      GTEST_SKIP() << skip_;
    }
    ASSERT_TRUE(problem_.empty()) << problem_;
    BridgeTest::SetUp();
    InstallModules(true);
    platform::SetTickCountForTesting(9000);
    ASSERT_EQ(Ask("InitDLL=Quillomat"), "||0||9000||");
  }

  // getKey, with the PIN typed into the module's dialog.
  std::string GetKey(const QString& pin) {
    dialog.Answer(pin);
    return ModuleText(Ask("ExecMethod=getKey&DLLToken=9000"));
  }
  std::string Sign(const std::string& encodedPin, const std::string& encodedData) {
    return ModuleText(
        Ask("ExecMethod=sign&DLLToken=9000&Param1=" + encodedPin + "&Param2=" + encodedData));
  }

  login_test::PinDialogWatch dialog;
  static inline platform_test::ScratchFolder* token_ = nullptr;
  static inline std::string problem_;
  static inline std::string skip_;
};

TEST_F(SoftHsmLoginCalls, APageSignatureVerifiesWithTheKeyGetKeyReads) {
  const std::vector<std::string> key = Fields(GetKey(QStringLiteral("1234")));
  ASSERT_EQ(key.size(), 4u) << ::testing::PrintToString(key);
  EXPECT_EQ(key[0], "0");
  EXPECT_EQ(key[1], "Quillomat test key");
  EXPECT_EQ(key[2], "010001");
  const PublicKey publicKey = RsaPublicKey(key[2], key[3]);
  ASSERT_NE(publicKey, nullptr);

  // "登入 challenge" sent percent-encoded as UTF-8: signed as those UTF-8 bytes.
  const std::vector<std::string> sign = Fields(Sign("1234", "%E7%99%BB%E5%85%A5%20challenge"));
  ASSERT_EQ(sign.size(), 3u) << ::testing::PrintToString(sign);
  EXPECT_EQ(sign[0], "0");
  EXPECT_EQ(sign[1], "Quillomat test key");
  EXPECT_TRUE(Verifies(publicKey.get(), "\xE7\x99\xBB\xE5\x85\xA5 challenge", sign[2]));
  EXPECT_FALSE(Verifies(publicKey.get(), "%E7%99%BB%E5%85%A5%20challenge", sign[2]));
}

TEST_F(SoftHsmLoginCalls, CardFailuresAreTheModulesTextWithCode0) {
  EXPECT_EQ(Sign("4321", "data"), "160,C_Login");
  EXPECT_EQ(GetKey(QStringLiteral("4321")), "160,C_Login");
}

}  // namespace
}  // namespace bridge_test
