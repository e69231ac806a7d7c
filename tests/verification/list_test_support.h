// Helpers for the module list tests: the development key pair and certificate, files in a
// scratch folder, and lists signed at test time.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "agent/bridge/verification_list.h"
#include "platform/scratch_folder.h"
#include "tools/ostrabel_list/list_writer.h"

namespace list_test {

using Bytes = std::vector<uint8_t>;

inline std::string DevFile(const char* name) {
  return std::string(OSTRABEL_TEST_DEV_DIR "/") + name;
}

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadBytes(path);
  return {bytes.begin(), bytes.end()};
}

inline void WriteBytes(const std::string& path, std::string_view content) {
  std::ofstream(path, std::ios::binary)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline void WriteBytes(const std::string& path, const Bytes& content) {
  WriteBytes(path, std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

// Every byte value, zero bytes included.
inline Bytes PatternBytes(size_t size) {
  Bytes content(size);
  for (size_t i = 0; i < size; ++i) {
    content[i] = static_cast<uint8_t>(i * 7 + i / 256);
  }
  return content;
}

inline Bytes SaltOf(const char* certificateFile) {
  Bytes salt;
  std::string error;
  EXPECT_TRUE(ostrabel_list::CertificateSalt(ReadBytes(DevFile(certificateFile)), salt, error))
      << error;
  return salt;
}

// The hex text of a list holding `plain`, signed with the development private key.
inline std::string SignWithDevKey(std::string_view plain) {
  std::string hex, error;
  EXPECT_TRUE(
      ostrabel_list::SignListText(plain, ReadText(DevFile("list-signing.key.pem")), hex, error))
      << error;
  return hex;
}

}  // namespace list_test
