// Checking what the login module returns: its result line and RSA signatures.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// The comma-separated fields of a result line.
std::vector<std::string> Fields(const std::string& line);

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PublicKey = std::unique_ptr<EVP_PKEY, KeyFree>;

// The RSA public key with this exponent and modulus (hexadecimal); null when they make none.
PublicKey RsaPublicKey(const std::string& exponentHex, const std::string& modulusHex);

// RSASSA-PKCS1-v1_5 with SHA-1 over `bytes`.
bool Verifies(EVP_PKEY* key, const std::string& bytes, const std::string& signatureHex);

}  // namespace testing_support
