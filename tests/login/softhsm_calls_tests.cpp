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

namespace bridge_test {
namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PublicKey = std::unique_ptr<EVP_PKEY, KeyFree>;

PublicKey RsaPublicKey(const std::string& exponentHex, const std::string& modulusHex) {
  BIGNUM* exponent = nullptr;
  BIGNUM* modulus = nullptr;
  BN_hex2bn(&exponent, exponentHex.c_str());
  BN_hex2bn(&modulus, modulusHex.c_str());
  OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
  OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, modulus);
  OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, exponent);
  OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY* key = nullptr;
  if (context == nullptr || params == nullptr || EVP_PKEY_fromdata_init(context) != 1 ||
      EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
    key = nullptr;
  }
  EVP_PKEY_CTX_free(context);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(build);
  BN_free(modulus);
  BN_free(exponent);
  return PublicKey(key);
}

// RSASSA-PKCS1-v1_5 with SHA-1 over `bytes`.
bool Verifies(EVP_PKEY* key, const std::string& bytes, const std::string& signatureHex) {
  long length = 0;
  unsigned char* signature = OPENSSL_hexstr2buf(signatureHex.c_str(), &length);
  EVP_MD_CTX* digest = EVP_MD_CTX_new();
  EVP_PKEY_CTX* context = nullptr;
  const bool verified =
      signature != nullptr && digest != nullptr &&
      EVP_DigestVerifyInit(digest, &context, EVP_sha1(), nullptr, key) == 1 &&
      EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1 &&
      EVP_DigestVerify(digest, signature, static_cast<size_t>(length),
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
  EVP_MD_CTX_free(digest);
  OPENSSL_free(signature);
  return verified;
}

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1) {
    fields.push_back(text.substr(start, comma - start));
  }
  fields.push_back(text.substr(start));
  return fields;
}

// The module's text from a body "||0||text||"; empty when the code is not 0.
std::string ModuleText(const std::string& body) {
  if (!body.starts_with("||0||") || !body.ends_with("||") || body.size() < 7) {
    return {};
  }
  return body.substr(5, body.size() - 7);
}

// Points "QORVPKCS11.dll" beside this program at `target`; by rename, so test processes of this
// program running at once never see the link missing.
bool PlaceBesideProgram(const std::filesystem::path& target) {
  const std::string link = platform::ProgramFolder() + "QORVPKCS11.dll";
  const std::string fresh = link + "." + std::to_string(getpid());
  unlink(fresh.c_str());
  return symlink(target.c_str(), fresh.c_str()) == 0 && rename(fresh.c_str(), link.c_str()) == 0;
}

class SoftHsmLoginCalls : public BridgeTest {
 protected:
  static void SetUpTestSuite() {
    token_ = new platform_test::ScratchFolder;
    const std::string command = std::string(MAKE_TOKEN_SCRIPT) + " '" + token_->path() + "'";
    FILE* script = popen(command.c_str(), "r");
    std::string output;
    char buffer[512];
    while (script != nullptr && fgets(buffer, sizeof buffer, script) != nullptr) {
      output += buffer;
    }
    const int status = script != nullptr ? pclose(script) : -1;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
      skip_ = "SoftHSM or pkcs11-tool is not installed and could not be";
      return;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || output.empty()) {
      problem_ = command + " failed";
      return;
    }
    output.pop_back();
    const std::string folder = output.substr(output.rfind('\n') + 1);
    std::error_code error;
    const auto library = std::filesystem::canonical(folder + "/QORVPKCS11.dll", error);
    if (error || !PlaceBesideProgram(library)) {
      problem_ = "cannot place " + folder + "/QORVPKCS11.dll beside the test program";
      return;
    }
    setenv("SOFTHSM2_CONF", (token_->path() + "/softhsm2.conf").c_str(), 1);
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
