// Writing module lists ("Ostrabel.ini") that the agent opens with its built-in public key: the
// deployer tool and tests that need signed lists of any content use these.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrabel_list {

using Bytes = std::vector<uint8_t>;

// The salt the agent puts before a module's bytes: SHA-256 of its certificate's DER bytes.
// `certificate` may be DER or PEM.
bool CertificateSalt(std::span<const uint8_t> certificate, Bytes& salt, std::string& error);

// "NAME = DIGEST.SIZE": the upper-case hex SHA-256 of salt and content, the size in decimal.
std::string ModuleLine(std::string_view name, std::span<const uint8_t> salt,
                       std::span<const uint8_t> content);

// The lines joined by CR LF, with none after the last.
std::string JoinLines(const std::vector<std::string>& lines);

// The content of a list file holding `plain`: zero-padded to whole blocks of the key's modulus
// length (at least one), each block through the raw RSA private-key operation, as upper-case
// hex on one line. Fails for a block whose value is not below the modulus.
bool SignListText(std::string_view plain, std::string_view privateKeyPem, std::string& hex,
                  std::string& error);

bool ReadFileBytes(const std::string& path, Bytes& content, std::string& error);
// Replaces `path` in one step (a new file renamed over it), so a reader never sees half a list.
bool ReplaceFile(const std::string& path, std::string_view content, std::string& error);

// SignListText with the key in `privateKeyPath`, then ReplaceFile of `listPath`.
bool WriteSignedList(const std::string& listPath, std::string_view plain,
                     const std::string& privateKeyPath, std::string& error);

}  // namespace ostrabel_list
