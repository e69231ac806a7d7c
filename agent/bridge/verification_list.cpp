#include "agent/bridge/verification_list.h"

#include <openssl/evp.h>

#include <cstring>
#include <limits>
#include <string_view>

#include "agent/bridge/list_blocks.h"
#include "agent/bridge/list_text_parser.h"
#include "agent/resources/builtin_resources.h"
#include "platform/file_helpers.h"
#include "platform/text_conversion.h"

namespace {

constexpr int32_t kDigestLength = 32;

// The path without its last component: "/a/b//Ostrabel.ini" gives "/a/b", "/Ostrabel.ini" gives
// "/", a bare name gives "".
std::string ParentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return {};
  }
  std::string folder = path.substr(0, slash);
  while (!folder.empty() && folder.back() == '/') {
    folder.pop_back();
  }
  return folder.empty() ? "/" : folder;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool IsValidIndex(const VerificationList& list, int index) {
  return index >= 0 && static_cast<size_t>(index) < list.entries.size();
}

}  // namespace

bool LoadVerificationList(const std::string& listPath, VerificationList& list) {
  list.entries.clear();
  list.directory = platform::AnsiToWide(ParentFolder(listPath));
  ValueBuffer file;
  if (!ReadWholeFile(listPath, file)) {
    return false;
  }
  std::vector<uint8_t> plain;
  if (OpenListBlocks(file.Chars(), BuiltinListPublicKey(), plain) != ListBlocksResult::kOpened) {
    return false;
  }
  list.entries = ParseListText({reinterpret_cast<const char*>(plain.data()), plain.size()});
  return true;
}

int FindVerificationEntry(const VerificationList& list, const char* fileName) {
  if (fileName == nullptr) {
    return -1;
  }
  for (size_t i = 0; i < list.entries.size(); ++i) {
    if (EqualsIgnoringAsciiCase(platform::WideToAnsi(list.entries[i].name), fileName)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool VerifyModuleFile(const VerificationList& list, int index) {
  if (!IsValidIndex(list, index)) {
    return false;
  }
  const std::string folder = platform::WideToAnsi(list.directory);
  const std::string name = platform::WideToAnsi(list.entries[static_cast<size_t>(index)].name);
  const std::string path = folder.empty() ? name : platform::NormalizePath(folder + "/" + name);
  ValueBuffer bytes;
  return ReadWholeFile(path, bytes) && VerifyModuleBytes(list, index, bytes);
}

bool VerifyModuleBytes(const VerificationList& list, int index, const ValueBuffer& bytes) {
  if (!IsValidIndex(list, index)) {
    return false;
  }
  const VerificationEntry& entry = list.entries[static_cast<size_t>(index)];
  // Without the salt every digest would be one anybody can compute; refuse rather than accept.
  if (bytes.length() <= 0 || bytes.length() != entry.size ||
      entry.digest.length() != kDigestLength || list.VerificationSalt.length() != kDigestLength) {
    return false;
  }
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  const bool hashed =
      context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1 &&
      EVP_DigestUpdate(context, list.VerificationSalt.data(), kDigestLength) == 1 &&
      EVP_DigestUpdate(context, bytes.data(), static_cast<size_t>(bytes.length())) == 1 &&
      EVP_DigestFinal_ex(context, digest, &digestLength) == 1;
  EVP_MD_CTX_free(context);
  return hashed && digestLength == kDigestLength &&
         std::memcmp(digest, entry.digest.data(), kDigestLength) == 0;
}

bool ReadWholeFile(const std::string& path, ValueBuffer& buffer) {
  buffer.Reset();
  if (path.empty()) {
    return false;
  }
  const auto content = platform::ReadFileBytes(path);
  // ValueBuffer holds at most INT32_MAX - 2 bytes; AppendBytes refuses more.
  if (!content || content->empty() ||
      content->size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    return false;
  }
  return buffer.AppendBytes(content->data(), static_cast<int32_t>(content->size()));
}

bool HexDecode(ValueBuffer& buffer, const char* text) {
  buffer.Reset();
  const size_t length = text == nullptr ? 0 : std::strlen(text);
  if (length == 0 || length % 2 != 0 ||
      length / 2 > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    return false;
  }
  std::vector<uint8_t> bytes(length / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return buffer.AppendBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
}

void Sha256Digest(ValueBuffer& buffer, const void* data, size_t length) {
  buffer.Reset();
  static const uint8_t kNothing = 0;
  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  // On a failure the buffer stays empty, which no check accepts.
  if (EVP_Digest(length == 0 ? &kNothing : data, length, digest, &digestLength, EVP_sha256(),
                 nullptr) == 1) {
    buffer.AppendBytes(digest, static_cast<int32_t>(digestLength));
  }
}
