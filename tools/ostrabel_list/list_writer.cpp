#include "tools/ostrabel_list/list_writer.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>

namespace ostrabel_list {
namespace {

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BN_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;

// The reason OpenSSL gave last, for error messages; empties the queue.
std::string OpenSslReason() {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code == 0) {
    return {};
  }
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return std::string(" (") + text + ")";
}

std::string UpperHex(std::span<const uint8_t> bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const uint8_t byte : bytes) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0F]);
  }
  return hex;
}

BioPtr MemoryBio(std::span<const uint8_t> bytes) {
  if (bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    return nullptr;
  }
  return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

bool Sha256(std::span<const uint8_t> salt, std::span<const uint8_t> content, Bytes& digest) {
  std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>> context(EVP_MD_CTX_new());
  digest.assign(EVP_MAX_MD_SIZE, 0);
  unsigned int length = 0;
  const bool done = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1 &&
                    EVP_DigestUpdate(context.get(), salt.data(), salt.size()) == 1 &&
                    EVP_DigestUpdate(context.get(), content.data(), content.size()) == 1 &&
                    EVP_DigestFinal_ex(context.get(), digest.data(), &length) == 1;
  digest.resize(done ? length : 0);
  return done;
}

// The agent hashes the DER bytes it embeds, so a PEM certificate is hashed in its DER form.
bool CertificateDer(std::span<const uint8_t> certificate, Bytes& der, std::string& error) {
  const std::string_view begin = "-----BEGIN";
  const std::string_view text(reinterpret_cast<const char*>(certificate.data()),
                              certificate.size());
  if (text.find(begin) == std::string_view::npos) {
    const unsigned char* p = certificate.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())));
    if (!cert || p != certificate.data() + certificate.size()) {
      error = "not a DER or PEM certificate" + OpenSslReason();
      return false;
    }
    der.assign(certificate.begin(), certificate.end());
    return true;
  }
  BioPtr bio = MemoryBio(certificate);
  X509Ptr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  const int length = cert ? i2d_X509(cert.get(), nullptr) : -1;
  if (length <= 0) {
    error = "not a PEM certificate" + OpenSslReason();
    return false;
  }
  der.resize(static_cast<size_t>(length));
  unsigned char* out = der.data();
  i2d_X509(cert.get(), &out);
  return true;
}

PkeyPtr ReadPrivateKey(std::string_view pem, std::string& error) {
  BioPtr bio = MemoryBio({reinterpret_cast<const uint8_t*>(pem.data()), pem.size()});
  PkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key || !EVP_PKEY_is_a(key.get(), "RSA")) {
    error = "not an RSA private key in PEM" + OpenSslReason();
    return nullptr;
  }
  return key;
}

class BlockSigner {
 public:
  bool Start(EVP_PKEY* key, std::string& error) {
    BIGNUM* modulus = nullptr;
    context_.reset(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &modulus) != 1 || !context_ ||
        EVP_PKEY_sign_init(context_.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context_.get(), RSA_NO_PADDING) != 1) {
      BN_free(modulus);
      error = "cannot use the key for the raw RSA operation" + OpenSslReason();
      return false;
    }
    modulus_.reset(modulus);
    return true;
  }

  // The public operation of the agent only gives back what was put in when the block's value
  // is below the modulus.
  bool Sign(std::span<const uint8_t> block, uint8_t* out, size_t index, std::string& error) {
    BnPtr value(BN_bin2bn(block.data(), static_cast<int>(block.size()), nullptr));
    if (!value || BN_ucmp(value.get(), modulus_.get()) >= 0) {
      error = "block " + std::to_string(index + 1) +
              " begins with bytes too large for the key's modulus; put another line first";
      return false;
    }
    size_t length = block.size();
    if (EVP_PKEY_sign(context_.get(), out, &length, block.data(), block.size()) != 1 ||
        length != block.size()) {
      error =
          "the raw RSA operation failed on block " + std::to_string(index + 1) + OpenSslReason();
      return false;
    }
    return true;
  }

 private:
  PkeyCtxPtr context_;
  BnPtr modulus_;
};

}  // namespace

bool CertificateSalt(std::span<const uint8_t> certificate, Bytes& salt, std::string& error) {
  Bytes der;
  if (!CertificateDer(certificate, der, error)) {
    return false;
  }
  if (!Sha256({}, der, salt)) {
    error = "SHA-256 failed" + OpenSslReason();
    return false;
  }
  return true;
}

std::string ModuleLine(std::string_view name, std::span<const uint8_t> salt,
                       std::span<const uint8_t> content) {
  Bytes digest;
  Sha256(salt, content, digest);
  return std::string(name) + " = " + UpperHex(digest) + "." + std::to_string(content.size());
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) {
      text += "\r\n";
    }
    text += lines[i];
  }
  return text;
}

bool SignListText(std::string_view plain, std::string_view privateKeyPem, std::string& hex,
                  std::string& error) {
  hex.clear();
  const PkeyPtr key = ReadPrivateKey(privateKeyPem, error);
  BlockSigner signer;
  if (!key || !signer.Start(key.get(), error)) {
    return false;
  }
  const size_t blockSize = static_cast<size_t>(EVP_PKEY_get_size(key.get()));
  const size_t blocks = plain.empty() ? 1 : (plain.size() + blockSize - 1) / blockSize;
  Bytes padded(blocks * blockSize, 0);
  std::memcpy(padded.data(), plain.data(), plain.size());
  Bytes cipher(padded.size());
  for (size_t i = 0; i < blocks; ++i) {
    const size_t offset = i * blockSize;
    if (!signer.Sign({padded.data() + offset, blockSize}, cipher.data() + offset, i, error)) {
      return false;
    }
  }
  hex = UpperHex(cipher);
  return true;
}

bool ReadFileBytes(const std::string& path, Bytes& content, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  content.assign(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

bool ReplaceFile(const std::string& path, std::string_view content, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot create a file beside " + path + ": " + std::strerror(errno);
    return false;
  }
  bool written = true;
  for (size_t done = 0; written && done < content.size();) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    written = n > 0;
    done += written ? static_cast<size_t>(n) : 0;
  }
  // mkstemp makes the file 0600; a list is no secret and the agent may run as another user.
  written = fchmod(fd, 0644) == 0 && written;
  written = close(fd) == 0 && written;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool WriteSignedList(const std::string& listPath, std::string_view plain,
                     const std::string& privateKeyPath, std::string& error) {
  Bytes pem;
  std::string hex;
  return ReadFileBytes(privateKeyPath, pem, error) &&
         SignListText(plain, {reinterpret_cast<const char*>(pem.data()), pem.size()}, hex, error) &&
         ReplaceFile(listPath, hex, error);
}

}  // namespace ostrabel_list
