#include "agent/bridge/list_blocks.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <limits>
#include <memory>

#include "agent/bridge/verification_list.h"

namespace {

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;

PkeyPtr ReadPublicKey(std::string_view pem) {
  if (pem.empty() || pem.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    return nullptr;
  }
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) {
    return nullptr;
  }
  PkeyPtr key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  if (!key || !EVP_PKEY_is_a(key.get(), "RSA") || EVP_PKEY_get_size(key.get()) <= 0) {
    return nullptr;
  }
  return key;
}

// The raw operation (no padding) gives back exactly the block's length; anything else is a
// refusal.
bool OpenBlock(EVP_PKEY_CTX* context, const uint8_t* block, size_t size, uint8_t* plain) {
  size_t plainSize = size;
  return EVP_PKEY_verify_recover(context, plain, &plainSize, block, size) == 1 && plainSize == size;
}

ListBlocksResult OpenBlocks(const char* hexText, std::string_view publicKeyPem,
                            std::vector<uint8_t>& plain) {
  const PkeyPtr key = ReadPublicKey(publicKeyPem);
  if (!key) {
    return ListBlocksResult::kBadKey;
  }
  ValueBuffer cipher;
  if (!HexDecode(cipher, hexText)) {
    return ListBlocksResult::kNotHex;
  }
  const size_t blockSize = static_cast<size_t>(EVP_PKEY_get_size(key.get()));
  const size_t length = static_cast<size_t>(cipher.length());
  if (length % blockSize != 0) {
    return ListBlocksResult::kPartialBlock;
  }
  PkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!context || EVP_PKEY_verify_recover_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_NO_PADDING) != 1) {
    return ListBlocksResult::kBadKey;
  }
  plain.resize(length);
  for (size_t offset = 0; offset < length; offset += blockSize) {
    if (!OpenBlock(context.get(), cipher.data() + offset, blockSize, plain.data() + offset)) {
      plain.clear();
      return ListBlocksResult::kBlockRejected;
    }
  }
  return ListBlocksResult::kOpened;
}

}  // namespace

ListBlocksResult OpenListBlocks(const char* hexText, std::string_view publicKeyPem,
                                std::vector<uint8_t>& plain) {
  plain.clear();
  // Whatever OpenSSL reports about a bad list stays here, off the queue that the endpoint reads.
  ERR_set_mark();
  const ListBlocksResult result = OpenBlocks(hexText, publicKeyPem, plain);
  ERR_pop_to_mark();
  return result;
}
