// ostrabel-list: writes the module list "Ostrabel.ini" for a deployment and prints what the agent
// reads from one.
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "agent/bridge/list_blocks.h"
#include "agent/bridge/list_text_parser.h"
#include "agent/bridge/verification_list.h"
#include "agent/resources/builtin_resources.h"
#include "platform/text_conversion.h"
#include "tools/ostrabel_list/list_writer.h"

namespace {

const char kUsage[] =
    "usage: ostrabel-list write --key PRIVATE.pem --cert AGENT_CERT --out Ostrabel.ini MODULE...\n"
    "       ostrabel-list print [--pub PUBLIC.pem] Ostrabel.ini\n"
    "\n"
    "write  lists each MODULE by its file name with its size and SHA-256 digest salted with the\n"
    "       agent's certificate (DER or PEM), signed with the RSA private key\n"
    "print  shows the entries the agent reads from a list, opened with PUBLIC.pem or, without\n"
    "       --pub, with the key built into this program\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "ostrabel-list: %s\n", message.c_str());
  return 1;
}

std::string AsText(const ostrabel_list::Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string FileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsSpace(char c) {
  return std::string_view(" \t\n\v\f\r").find(c) != std::string_view::npos;
}

// The agent trims names, splits lines at CR LF and names from digests at the first "=", and
// compares names ignoring case: a name it would read otherwise, or a second one it would never
// reach, is refused here.
bool CheckName(const std::string& name, std::set<std::string>& seen, std::string& error) {
  if (name.empty() || IsSpace(name.front()) || IsSpace(name.back()) ||
      name.find_first_of("=\r\n") != std::string::npos) {
    error = "the module name '" + name + "' cannot be listed";
    return false;
  }
  std::string folded = name;
  for (char& c : folded) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (!seen.insert(folded).second) {
    error = "the module name '" + name + "' is listed twice (names ignore case)";
    return false;
  }
  return true;
}

// Reads "--name value" pairs and leaves the other arguments in `rest`.
bool ReadOptions(int argc, char** argv, std::vector<std::pair<std::string, std::string*>> options,
                 std::vector<std::string>& rest) {
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    bool known = false;
    for (auto& [name, value] : options) {
      if (argument == name && i + 1 < argc) {
        *value = argv[++i];
        known = true;
      }
    }
    if (!known && argument.starts_with("--")) {
      return false;
    }
    if (!known) {
      rest.push_back(argument);
    }
  }
  return true;
}

int Write(int argc, char** argv) {
  std::string keyPath, certPath, outPath;
  std::vector<std::string> modules;
  if (!ReadOptions(argc, argv, {{"--key", &keyPath}, {"--cert", &certPath}, {"--out", &outPath}},
                   modules) ||
      keyPath.empty() || certPath.empty() || outPath.empty() || modules.empty()) {
    return Usage();
  }
  std::string error;
  ostrabel_list::Bytes certificate, salt;
  if (!ostrabel_list::ReadFileBytes(certPath, certificate, error) ||
      !ostrabel_list::CertificateSalt(certificate, salt, error)) {
    return Fail(certPath + ": " + error);
  }
  std::vector<std::string> lines;
  std::set<std::string> seen;
  for (const std::string& module : modules) {
    ostrabel_list::Bytes content;
    if (!ostrabel_list::ReadFileBytes(module, content, error)) {
      return Fail(error);
    }
    // The agent refuses empty modules and holds sizes as signed 32-bit numbers.
    if (content.empty() || content.size() > 0x7FFFFFFDu) {
      return Fail(module + ": a module must have 1 to 2147483645 bytes");
    }
    if (!CheckName(FileName(module), seen, error)) {
      return Fail(error);
    }
    lines.push_back(ostrabel_list::ModuleLine(FileName(module), salt, content));
  }
  if (!ostrabel_list::WriteSignedList(outPath, ostrabel_list::JoinLines(lines), keyPath, error)) {
    return Fail(error);
  }
  for (const std::string& line : lines) {
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

const char* Reason(ListBlocksResult result) {
  switch (result) {
    case ListBlocksResult::kBadKey:
      return "the key is not an RSA public key in PEM";
    case ListBlocksResult::kNotHex:
      return "it is not hexadecimal text of even length";
    case ListBlocksResult::kPartialBlock:
      return "it does not decode to whole blocks of the key's length";
    case ListBlocksResult::kBlockRejected:
      return "the key refuses one of its blocks";
    case ListBlocksResult::kOpened:
      break;
  }
  return "";
}

std::string DigestText(const ValueBuffer& digest) {
  if (digest.length() == 0) {
    return "(none)";
  }
  std::string hex;
  for (int32_t i = 0; i < digest.length(); ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", digest.data()[i]);
    hex += pair;
  }
  return hex;
}

int Print(int argc, char** argv) {
  std::string publicKeyPath;
  std::vector<std::string> rest;
  if (!ReadOptions(argc, argv, {{"--pub", &publicKeyPath}}, rest) || rest.size() != 1) {
    return Usage();
  }
  std::string publicKey(BuiltinListPublicKey());
  std::string error;
  if (!publicKeyPath.empty()) {
    ostrabel_list::Bytes pem;
    if (!ostrabel_list::ReadFileBytes(publicKeyPath, pem, error)) {
      return Fail(error);
    }
    publicKey = AsText(pem);
  }
  const std::string& listPath = rest.front();
  ValueBuffer file;
  if (!ReadWholeFile(listPath, file)) {
    return Fail(listPath + " is unreadable: it is missing or empty");
  }
  std::vector<uint8_t> plain;
  const ListBlocksResult opened = OpenListBlocks(file.Chars(), publicKey, plain);
  if (opened != ListBlocksResult::kOpened) {
    return Fail(listPath + " is unreadable: " + Reason(opened));
  }
  const auto entries = ParseListText({reinterpret_cast<const char*>(plain.data()), plain.size()});
  if (entries.empty()) {
    std::fprintf(stderr, "ostrabel-list: %s has no entries\n", listPath.c_str());
  }
  for (const VerificationEntry& entry : entries) {
    std::printf("%s = %s.%d\n", platform::WideToAnsi(entry.name).c_str(),
                DigestText(entry.digest).c_str(), entry.size);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "write") {
    return Write(argc, argv);
  }
  if (command == "print") {
    return Print(argc, argv);
  }
  return Usage();
}
