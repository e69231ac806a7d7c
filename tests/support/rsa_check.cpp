#include "rsa_check.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

namespace testing_support {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1) {
    fields.push_back(line.substr(start, comma - start));
  }
  fields.push_back(line.substr(start));
  return fields;
}

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

}  // namespace testing_support
