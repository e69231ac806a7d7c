// Opening the content of a module list file: hex text, then blocks of the key's modulus length,
// each put through the raw RSA public-key operation.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

enum class ListBlocksResult {
  kOpened,
  kBadKey,        // the PEM text holds no RSA public key
  kNotHex,        // empty, odd-length or not hexadecimal
  kPartialBlock,  // the decoded length is not a whole number of blocks
  kBlockRejected  // the key refused a block (a value not below the modulus)
};

// `hexText` is read up to its first zero byte. On success `plain` holds the plain blocks in
// order; on failure it is empty.
ListBlocksResult OpenListBlocks(const char* hexText, std::string_view publicKeyPem,
                                std::vector<uint8_t>& plain);
