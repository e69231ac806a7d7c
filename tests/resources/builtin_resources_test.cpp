#include "agent/resources/builtin_resources.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/encoder.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BN_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX_free>>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, Deleter<SSL_CTX_free>>;
using DecoderPtr = std::unique_ptr<OSSL_DECODER_CTX, Deleter<OSSL_DECODER_CTX_free>>;
using EncoderPtr = std::unique_ptr<OSSL_ENCODER_CTX, Deleter<OSSL_ENCODER_CTX_free>>;
using NamesPtr = std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES_free>>;
using BasicPtr = std::unique_ptr<BASIC_CONSTRAINTS, Deleter<BASIC_CONSTRAINTS_free>>;
using ConstraintsPtr = std::unique_ptr<NAME_CONSTRAINTS, Deleter<NAME_CONSTRAINTS_free>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;

using Bytes = std::vector<uint8_t>;
using Name = std::vector<std::pair<int, std::string>>;

Bytes ReadFileQuietly(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes ReadFile(const std::string& path) {
  Bytes bytes = ReadFileQuietly(path);
  EXPECT_FALSE(bytes.empty()) << "cannot read " << path;
  return bytes;
}

Bytes AsBytes(std::span<const uint8_t> span) {
  return Bytes(span.begin(), span.end());
}

std::string DevFile(const char* name) {
  return std::string(OSTRABEL_TEST_DEV_DIR "/") + name;
}

std::span<const uint8_t> BuiltinCertificate() {
  return FindBinaryResource(kLocalhostResourceType, kServerCertificateResource);
}
std::span<const uint8_t> BuiltinKey() {
  return FindBinaryResource(kLocalhostResourceType, kServerPrivateKeyResource);
}

// Strict DER: the certificate must take up the whole resource.
X509Ptr ParseDer(std::span<const uint8_t> der) {
  const unsigned char* p = der.data();
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  EXPECT_EQ(p, der.data() + der.size()) << "trailing bytes after the certificate";
  return cert;
}

// The authority file may be PEM (as shipped) or DER.
X509Ptr LoadCertificateFile(const std::string& path) {
  Bytes bytes = ReadFile(path);
  BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  if (X509* pem = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    return X509Ptr(pem);
  }
  return ParseDer(bytes);
}

PkeyPtr LoadPemKey(const std::string& path) {
  Bytes bytes = ReadFile(path);
  BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  return PkeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

Name Entries(const X509_NAME* name) {
  Name entries;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
    entries.emplace_back(OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry)),
                         std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                                     ASN1_STRING_length(value)));
  }
  return entries;
}

std::string Text(const GENERAL_NAME* name) {
  int type = 0;
  const auto* value = static_cast<const ASN1_STRING*>(GENERAL_NAME_get0_value(name, &type));
  const unsigned char* data = ASN1_STRING_get0_data(value);
  const int length = ASN1_STRING_length(value);
  if (type == GEN_DNS) {
    return "DNS:" + std::string(reinterpret_cast<const char*>(data), length);
  }
  if (type == GEN_IPADD) {
    std::string text = "IP:";
    for (int i = 0; i < length; ++i) {
      text += (i == 0 ? "" : i == 4 ? "/" : ".") + std::to_string(data[i]);
    }
    return text;
  }
  return "type " + std::to_string(type);
}

std::vector<std::string> AltNames(X509* cert) {
  std::vector<std::string> names;
  NamesPtr san(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr)));
  for (int i = 0; san && i < sk_GENERAL_NAME_num(san.get()); ++i) {
    names.push_back(Text(sk_GENERAL_NAME_value(san.get(), i)));
  }
  return names;
}

struct ExtensionRule {
  int nid;
  bool critical;
};

// Every extension present exactly once, with the expected criticality, and no others.
void ExpectExtensions(const X509* cert, const std::vector<ExtensionRule>& rules) {
  EXPECT_EQ(X509_get_ext_count(cert), static_cast<int>(rules.size()));
  for (const ExtensionRule& rule : rules) {
    SCOPED_TRACE(OBJ_nid2sn(rule.nid));
    const int at = X509_get_ext_by_NID(cert, rule.nid, -1);
    ASSERT_GE(at, 0) << "missing";
    EXPECT_EQ(X509_get_ext_by_NID(cert, rule.nid, at), -1) << "repeated";
    EXPECT_EQ(X509_EXTENSION_get_critical(X509_get_ext(cert, at)) != 0, rule.critical);
  }
}

void ExpectRsa2048(const X509* cert) {
  const EVP_PKEY* key = X509_get0_pubkey(cert);
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(EVP_PKEY_is_a(key, "RSA"));
  EXPECT_EQ(EVP_PKEY_get_bits(key), 2048);
  BIGNUM* raw = nullptr;
  ASSERT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &raw), 1);
  BnPtr e(raw);
  EXPECT_EQ(BN_get_word(e.get()), 65537u);
  EXPECT_EQ(X509_get_signature_nid(cert), NID_sha256WithRSAEncryption);
}

void ExpectTenYears(const X509* cert) {
  int days = 0;
  int seconds = 0;
  ASSERT_EQ(ASN1_TIME_diff(&days, &seconds, X509_get0_notBefore(cert), X509_get0_notAfter(cert)),
            1);
  EXPECT_GE(days, 3650);
  EXPECT_LE(days, 3652);
}

void ExpectRandomSerial(const X509* cert) {
  BnPtr serial(ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr));
  ASSERT_NE(serial, nullptr);
  EXPECT_FALSE(BN_is_negative(serial.get()));
  EXPECT_GE(BN_num_bits(serial.get()), 64) << "serial looks counted, not random";
}

struct Expected {
  const char* host;
  const char* ip;
};

// Verifies like a browser would for https://<host or ip>/: strict chain checks, TLS server
// purpose, and the name the browser asked for. Returns the X509_V_ error.
int Verify(X509* leaf, X509* authority, Expected wanted) {
  StorePtr store(X509_STORE_new());
  X509_STORE_add_cert(store.get(), authority);
  StoreCtxPtr ctx(X509_STORE_CTX_new());
  EXPECT_EQ(X509_STORE_CTX_init(ctx.get(), store.get(), leaf, nullptr), 1);
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
  X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_X509_STRICT);
  if (wanted.host) {
    X509_VERIFY_PARAM_set1_host(param, wanted.host, 0);
  }
  if (wanted.ip) {
    X509_VERIFY_PARAM_set1_ip_asc(param, wanted.ip);
  }
  const int ok = X509_verify_cert(ctx.get());
  const int error = X509_STORE_CTX_get_error(ctx.get());
  EXPECT_EQ(ok == 1, error == X509_V_OK);
  return error;
}

TEST(BuiltinResources, HoldTheConfiguredFilesByteForByte) {
  EXPECT_EQ(AsBytes(BuiltinCertificate()), ReadFile(OSTRABEL_TEST_SERVER_CERT));
  EXPECT_EQ(AsBytes(BuiltinKey()), ReadFile(OSTRABEL_TEST_SERVER_KEY));
  EXPECT_FALSE(BuiltinCertificate().empty());
}

TEST(BuiltinResources, UnknownTypeOrIdIsEmpty) {
  const std::pair<std::string_view, int> cases[] = {
      {"LOCALHOST", 316},  {"LOCALHOST", 0}, {"LOCALHOST", -314}, {"localhost", 314},
      {"LOCALHOST ", 315}, {"LOCAL", 314},   {"", 314},           {"RCDATA", 315},
  };
  for (const auto& [type, id] : cases) {
    EXPECT_TRUE(FindBinaryResource(type, id).empty()) << '"' << type << "\" " << id;
  }
}

// What the endpoint does at start-up, with the same calls.
TEST(BuiltinCredentials, LoadIntoAServerContextAndBelongTogether) {
  std::span<const uint8_t> cert = BuiltinCertificate();
  std::span<const uint8_t> key = BuiltinKey();
  SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(SSL_CTX_use_certificate_ASN1(ctx.get(), static_cast<int>(cert.size()), cert.data()), 1);
  ASSERT_EQ(SSL_CTX_use_PrivateKey_ASN1(EVP_PKEY_RSA, ctx.get(), key.data(),
                                        static_cast<long>(key.size())),
            1);
  EXPECT_EQ(SSL_CTX_check_private_key(ctx.get()), 1);
}

// The decoder takes PKCS#8 too, even when asked for "type-specific", so the key must also come
// back byte for byte when written out as PKCS#1.
TEST(BuiltinCredentials, KeyIsPkcs1RsaPrivateKeyOfTheCertificate) {
  std::span<const uint8_t> key = BuiltinKey();
  EVP_PKEY* raw = nullptr;
  DecoderPtr decoder(OSSL_DECODER_CTX_new_for_pkey(&raw, "DER", "type-specific", "RSA",
                                                   EVP_PKEY_KEYPAIR, nullptr, nullptr));
  const unsigned char* p = key.data();
  size_t left = key.size();
  ASSERT_EQ(OSSL_DECODER_from_data(decoder.get(), &p, &left), 1);
  PkeyPtr pkey(raw);
  EXPECT_EQ(left, 0u);

  EncoderPtr encoder(
      OSSL_ENCODER_CTX_new_for_pkey(pkey.get(), EVP_PKEY_KEYPAIR, "DER", "type-specific", nullptr));
  unsigned char* out = nullptr;
  size_t out_size = 0;
  ASSERT_EQ(OSSL_ENCODER_to_data(encoder.get(), &out, &out_size), 1);
  Bytes reencoded(out, out + out_size);
  OPENSSL_free(out);
  EXPECT_EQ(reencoded, AsBytes(key)) << "not a PKCS#1 RSAPrivateKey";

  X509Ptr cert = ParseDer(BuiltinCertificate());
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cert.get()), pkey.get()), 1);
}

TEST(BuiltinCredentials, ChainToTheInstalledAuthorityForLocalhostOnly) {
  X509Ptr leaf = ParseDer(BuiltinCertificate());
  X509Ptr authority = LoadCertificateFile(OSTRABEL_TEST_CA_CERT);
  ASSERT_NE(leaf, nullptr);
  ASSERT_NE(authority, nullptr);
  const std::pair<Expected, int> cases[] = {
      {{"localhost", nullptr}, X509_V_OK},
      {{nullptr, "127.0.0.1"}, X509_V_OK},
      {{"localhost", "127.0.0.1"}, X509_V_OK},
      {{"example.com", nullptr}, X509_V_ERR_HOSTNAME_MISMATCH},
      {{"www.localhost", nullptr}, X509_V_ERR_HOSTNAME_MISMATCH},
      {{nullptr, "127.0.0.2"}, X509_V_ERR_IP_ADDRESS_MISMATCH},
  };
  for (const auto& [wanted, expected] : cases) {
    const int error = Verify(leaf.get(), authority.get(), wanted);
    EXPECT_EQ(error, expected) << (wanted.host ? wanted.host : "") << ' '
                               << (wanted.ip ? wanted.ip : "") << ": "
                               << X509_verify_cert_error_string(error);
  }
}

// The exact profile of the development set; a deployer's own files are only held to the
// tests above.
class DevCredentials : public ::testing::Test {
 protected:
  void SetUp() override {
    if (AsBytes(BuiltinCertificate()) != ReadFileQuietly(DevFile("localhost.crt.der")) ||
        AsBytes(BuiltinKey()) != ReadFileQuietly(DevFile("localhost.key.der"))) {
      GTEST_SKIP() << "built with credentials other than agent/resources/dev";
    }
    leaf_ = ParseDer(BuiltinCertificate());
    authority_ = LoadCertificateFile(DevFile("QORV.crt"));
    ASSERT_NE(leaf_, nullptr);
    ASSERT_NE(authority_, nullptr);
  }

  const Name kAuthorityName = {{NID_countryName, "TW"},
                               {NID_organizationName, "QORV"},
                               {NID_organizationalUnitName, "QORV Develope"},
                               {NID_commonName, "QORV Certificate Authority"}};
  X509Ptr leaf_;
  X509Ptr authority_;
};

TEST_F(DevCredentials, EndpointCertificateProfile) {
  X509* cert = leaf_.get();
  EXPECT_EQ(X509_get_version(cert), X509_VERSION_3);
  EXPECT_EQ(Entries(X509_get_subject_name(cert)),
            (Name{{NID_countryName, "TW"},
                  {NID_organizationName, "QORV"},
                  {NID_organizationalUnitName, "QORV Self SSL"},
                  {NID_commonName, "QORV Self SSL"}}));
  EXPECT_EQ(Entries(X509_get_issuer_name(cert)), kAuthorityName);
  ExpectRsa2048(cert);
  ExpectTenYears(cert);
  ExpectRandomSerial(cert);

  ExpectExtensions(cert, {{NID_basic_constraints, true},
                          {NID_key_usage, false},
                          {NID_ext_key_usage, false},
                          {NID_subject_key_identifier, false},
                          {NID_authority_key_identifier, false},
                          {NID_subject_alt_name, false}});
  BasicPtr basic(static_cast<BASIC_CONSTRAINTS*>(
      X509_get_ext_d2i(cert, NID_basic_constraints, nullptr, nullptr)));
  ASSERT_NE(basic, nullptr);
  EXPECT_FALSE(basic->ca);
  EXPECT_EQ(X509_get_key_usage(cert),
            static_cast<uint32_t>(KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION | KU_KEY_ENCIPHERMENT |
                                  KU_DATA_ENCIPHERMENT | KU_KEY_AGREEMENT));
  EXPECT_EQ(X509_get_extended_key_usage(cert),
            static_cast<uint32_t>(XKU_SSL_SERVER | XKU_SSL_CLIENT));
  EXPECT_EQ(AltNames(cert), (std::vector<std::string>{"DNS:localhost", "IP:127.0.0.1"}));

  const ASN1_OCTET_STRING* own_id = X509_get0_subject_key_id(cert);
  const ASN1_OCTET_STRING* authority_id = X509_get0_authority_key_id(cert);
  ASSERT_NE(own_id, nullptr);
  ASSERT_NE(authority_id, nullptr);
  EXPECT_GT(ASN1_STRING_length(own_id), 0);
  EXPECT_EQ(ASN1_OCTET_STRING_cmp(authority_id, X509_get0_subject_key_id(authority_.get())), 0);
}

TEST_F(DevCredentials, AuthorityProfile) {
  X509* ca = authority_.get();
  EXPECT_EQ(X509_get_version(ca), X509_VERSION_3);
  EXPECT_EQ(Entries(X509_get_subject_name(ca)), kAuthorityName);
  EXPECT_EQ(X509_NAME_cmp(X509_get_subject_name(ca), X509_get_issuer_name(ca)), 0);
  EXPECT_EQ(X509_verify(ca, X509_get0_pubkey(ca)), 1) << "not self-signed";
  ExpectRsa2048(ca);
  ExpectTenYears(ca);

  ExpectExtensions(ca, {{NID_basic_constraints, true},
                        {NID_key_usage, true},
                        {NID_subject_key_identifier, false},
                        {NID_name_constraints, true}});
  EXPECT_EQ(X509_check_ca(ca), 1);
  EXPECT_EQ(X509_get_pathlen(ca), 0);
  EXPECT_EQ(X509_get_key_usage(ca), static_cast<uint32_t>(KU_KEY_CERT_SIGN | KU_CRL_SIGN));
  EXPECT_NE(X509_get0_subject_key_id(ca), nullptr);

  ConstraintsPtr constraints(
      static_cast<NAME_CONSTRAINTS*>(X509_get_ext_d2i(ca, NID_name_constraints, nullptr, nullptr)));
  ASSERT_NE(constraints, nullptr);
  EXPECT_EQ(constraints->excludedSubtrees, nullptr);
  std::vector<std::string> permitted;
  for (int i = 0; i < sk_GENERAL_SUBTREE_num(constraints->permittedSubtrees); ++i) {
    permitted.push_back(Text(sk_GENERAL_SUBTREE_value(constraints->permittedSubtrees, i)->base));
  }
  EXPECT_EQ(permitted, (std::vector<std::string>{"DNS:localhost", "IP:127.0.0.1/255.255.255.255"}));

  PkeyPtr key = LoadPemKey(DevFile("dev-ca.key.pem"));
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(ca), key.get()), 1) << "dev-ca.key.pem is not its key";
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX v3;
  X509V3_set_ctx(&v3, issuer, cert, nullptr, nullptr, 0);
  ExtPtr ext(X509V3_EXT_nconf_nid(nullptr, &v3, nid, value));
  ASSERT_NE(ext, nullptr) << value;
  ASSERT_EQ(X509_add_ext(cert, ext.get(), -1), 1);
}

// A server certificate that anyone holding the development authority's key could make.
X509Ptr IssueFromDevAuthority(X509* authority, EVP_PKEY* authority_key, const char* common_name,
                              const char* alt_names) {
  static const PkeyPtr key(EVP_EC_gen("P-256"));
  X509Ptr cert(X509_new());
  X509_set_version(cert.get(), X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 0x5eed);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_NID(subject, NID_commonName, MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(common_name), -1, -1, 0);
  X509_set_issuer_name(cert.get(), X509_get_subject_name(authority));
  X509_set_pubkey(cert.get(), key.get());
  AddExtension(cert.get(), authority, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(cert.get(), authority, NID_ext_key_usage, "serverAuth");
  AddExtension(cert.get(), authority, NID_subject_key_identifier, "hash");
  AddExtension(cert.get(), authority, NID_authority_key_identifier, "keyid:always");
  if (alt_names) {
    AddExtension(cert.get(), authority, NID_subject_alt_name, alt_names);
  }
  EXPECT_GT(X509_sign(cert.get(), authority_key, EVP_sha256()), 0);
  return cert;
}

TEST_F(DevCredentials, AuthorityCannotVouchForAnyOtherSite) {
  PkeyPtr authority_key = LoadPemKey(DevFile("dev-ca.key.pem"));
  ASSERT_NE(authority_key, nullptr);
  struct Case {
    const char* common_name;
    const char* alt_names;  // nullptr: no alternative names, the common name is the host
    Expected wanted;
    int error;
  };
  const Case cases[] = {
      // The control: what the authority may sign still verifies.
      {"localhost", "DNS:localhost,IP:127.0.0.1", {"localhost", "127.0.0.1"}, X509_V_OK},
      {"example.com", "DNS:example.com", {"example.com", nullptr}, X509_V_ERR_PERMITTED_VIOLATION},
      {"localhost",
       "DNS:localhost,DNS:example.com",
       {"example.com", nullptr},
       X509_V_ERR_PERMITTED_VIOLATION},
      {"router", "IP:192.168.1.1", {nullptr, "192.168.1.1"}, X509_V_ERR_PERMITTED_VIOLATION},
      {"example.com", nullptr, {"example.com", nullptr}, X509_V_ERR_PERMITTED_VIOLATION},
  };
  for (const Case& c : cases) {
    X509Ptr cert =
        IssueFromDevAuthority(authority_.get(), authority_key.get(), c.common_name, c.alt_names);
    const int error = Verify(cert.get(), authority_.get(), c.wanted);
    EXPECT_EQ(error, c.error) << c.common_name << " / " << (c.alt_names ? c.alt_names : "-") << ": "
                              << X509_verify_cert_error_string(error);
  }
}

}  // namespace
