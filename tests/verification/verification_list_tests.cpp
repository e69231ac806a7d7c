#include "agent/bridge/verification_list.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/resources/builtin_resources.h"
#include "list_test_support.h"
#include "platform/text_conversion.h"

namespace {

using list_test::Bytes;
using list_test::DevFile;
using list_test::PatternBytes;
using list_test::ReadText;
using list_test::SaltOf;
using list_test::SignWithDevKey;
using list_test::WriteBytes;

std::string Cut(const std::string& line) {
  return line.substr(0, line.rfind('.') + 1);  // "NAME = DIGEST."
}

class VerificationListTest : public testing::Test {
 protected:
  void SetUp() override {
    if (BuiltinListPublicKey() != ReadText(DevFile("list-signing.pub.pem"))) {
      GTEST_SKIP() << "this build opens lists with another key than the development one";
    }
    const Bytes certificate = list_test::ReadBytes(DevFile("localhost.crt.der"));
    Sha256Digest(list_.VerificationSalt, certificate.data(), certificate.size());
  }

  // As the agent builds it: its folder ends in "/" and "/Ostrabel.ini" follows.
  std::string ListPath() const { return folder_.path() + "//Ostrabel.ini"; }

  std::string Module(const std::string& name, const Bytes& content) {
    WriteBytes(folder_.Path(name), content);
    return ostrabel_list::ModuleLine(name, SaltOf("localhost.crt.der"), content);
  }

  bool Load(const std::string& plain) {
    WriteBytes(ListPath(), SignWithDevKey(plain));
    return LoadVerificationList(ListPath(), list_);
  }

  platform_test::ScratchFolder folder_;
  VerificationList list_;
};

TEST_F(VerificationListTest, WrittenListVerifiesItsModules) {
  const Bytes login = PatternBytes(100000);
  const Bytes card = PatternBytes(1);
  const std::string plain =
      ostrabel_list::JoinLines({Module("Quillomat.dll", login), Module("DorVIKA.dll", card)});
  ASSERT_TRUE(Load(plain));
  ASSERT_EQ(list_.entries.size(), 2u);
  EXPECT_TRUE(list_.directory == platform::AnsiToWide(folder_.path()));
  EXPECT_EQ(FindVerificationEntry(list_, "Quillomat.dll"), 0);
  EXPECT_EQ(FindVerificationEntry(list_, "DorVIKA.dll"), 1);
  EXPECT_TRUE(VerifyModuleFile(list_, 0));
  EXPECT_TRUE(VerifyModuleFile(list_, 1));
  ValueBuffer bytes;
  bytes.AppendBytes(card.data(), static_cast<int32_t>(card.size()));
  EXPECT_TRUE(VerifyModuleBytes(list_, 1, bytes));
  EXPECT_FALSE(VerifyModuleBytes(list_, 0, bytes));

  EXPECT_EQ(FindVerificationEntry(list_, "Other.dll"), -1);
  EXPECT_EQ(FindVerificationEntry(list_, nullptr), -1);
  EXPECT_FALSE(VerifyModuleFile(list_, -1));
  EXPECT_FALSE(VerifyModuleFile(list_, 2));

  // Hex digits of either case.
  std::string lower = SignWithDevKey(plain);
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  WriteBytes(ListPath(), lower);
  ASSERT_TRUE(LoadVerificationList(ListPath(), list_));
  EXPECT_EQ(list_.entries.size(), 2u);
}

TEST_F(VerificationListTest, NameInOtherCaseFindsTheFileTheListNames) {
  const std::string line = Module("dorvika.DLL", PatternBytes(300));
  const size_t equals = line.find(" = ");
  ASSERT_TRUE(Load(" \t" + line.substr(0, equals) + " \t=  " + line.substr(equals + 3) + "  "));
  EXPECT_EQ(FindVerificationEntry(list_, "DorVIKA.dll"), 0);
  EXPECT_EQ(FindVerificationEntry(list_, "DorVIKA.dl"), -1);
  EXPECT_TRUE(VerifyModuleFile(list_, 0));
}

TEST_F(VerificationListTest, SizeInAnyNotationVerifies) {
  const std::string line = Module("DorVIKA.dll", PatternBytes(123456));
  for (const char* size : {"123456", "0x1E240", "0361100"}) {
    ASSERT_TRUE(Load(Cut(line) + size));
    EXPECT_TRUE(VerifyModuleFile(list_, 0)) << size;
  }
}

TEST_F(VerificationListTest, FileOfAnotherSizeFailsWhateverItsDigest) {
  const Bytes listed = PatternBytes(1000);
  const Bytes longer = PatternBytes(1001);
  const Bytes shorter(listed.begin(), listed.end() - 1);
  for (const Bytes* actual : {&longer, &shorter}) {
    // The digest is the actual file's, the size the listed one.
    ASSERT_TRUE(Load(Cut(Module("DorVIKA.dll", *actual)) + "1000"));
    EXPECT_FALSE(VerifyModuleFile(list_, 0)) << actual->size();
    ASSERT_TRUE(Load(Cut(Module("DorVIKA.dll", *actual)) + std::to_string(actual->size())));
    EXPECT_TRUE(VerifyModuleFile(list_, 0)) << actual->size();
  }
  // The right size with another file's digest fails too.
  const std::string line = Module("DorVIKA.dll", listed);
  Module("DorVIKA.dll", Bytes(1000, 0x5A));
  ASSERT_TRUE(Load(line));
  EXPECT_FALSE(VerifyModuleFile(list_, 0));
}

TEST_F(VerificationListTest, DigestIsBoundToTheAgentCertificate) {
  const Bytes content = PatternBytes(500);
  WriteBytes(folder_.Path("DorVIKA.dll"), content);
  ASSERT_TRUE(Load(ostrabel_list::ModuleLine("DorVIKA.dll", SaltOf("QORV.crt"), content)));
  EXPECT_FALSE(VerifyModuleFile(list_, 0));

  // A frame that never computed its salt accepts nothing, not even an unsalted digest.
  ASSERT_TRUE(Load(ostrabel_list::ModuleLine("DorVIKA.dll", {}, content)));
  list_.VerificationSalt.Reset();
  EXPECT_FALSE(VerifyModuleFile(list_, 0));
}

TEST_F(VerificationListTest, MissingEmptyOrUndigestedModuleFails) {
  // "Short.dll = " and one digit less than its true digest.
  const std::string digest63 = Cut(Module("Short.dll", PatternBytes(10))).substr(0, 12 + 63);
  const std::string plain = ostrabel_list::JoinLines({
      "Missing.dll = " + std::string(64, 'A') + ".10",
      Module("Empty.dll", {}),
      Module("Folder.dll", PatternBytes(10)),
      digest63 + ".10",
  });
  std::filesystem::remove(folder_.Path("Folder.dll"));
  std::filesystem::create_directory(folder_.Path("Folder.dll"));
  ASSERT_TRUE(Load(plain));
  ASSERT_EQ(list_.entries.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(VerifyModuleFile(list_, i)) << platform::WideToAnsi(list_.entries[i].name);
  }
}

// Each case pads the first line so that a given point of the text lands on the block boundary.
TEST_F(VerificationListTest, LinesAcrossBlocksAreReadAsOneText) {
  const std::string a = Module("a.dll", PatternBytes(11));
  const std::string b = Module("b.dll", PatternBytes(22));
  const std::string c = Module("c.dll", PatternBytes(33));
  const struct {
    const char* what;
    size_t padding;
  } cases[] = {
      {"third line starts the second block", 256 - (a.size() + 2 + b.size() + 2)},
      {"CR ends the first block, LF starts the second", 255 - (a.size() + 2 + b.size())},
      {"second line straddles the boundary", 200 - (a.size() + 2)},
      {"third line fills the second block, no zero byte",
       512 - (a.size() + b.size() + c.size() + 4)},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const std::string plain = std::string(test.padding, ' ') + ostrabel_list::JoinLines({a, b, c});
    ASSERT_GT(plain.size(), 256u);
    ASSERT_TRUE(Load(plain));
    ASSERT_EQ(list_.entries.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(VerifyModuleFile(list_, i)) << i;
    }
  }
}

std::string DevModulusHex(int adjust) {
  const std::string pem = ReadText(DevFile("list-signing.pub.pem"));
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
  BIGNUM* n = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n), 1);
  if (adjust < 0) {
    BN_sub_word(n, static_cast<BN_ULONG>(-adjust));
  }
  char* hex = BN_bn2hex(n);
  const std::string text = hex;
  OPENSSL_free(hex);
  BN_free(n);
  EVP_PKEY_free(key);
  BIO_free(bio);
  return text;
}

TEST_F(VerificationListTest, MalformedListIsUnreadableAndLeavesNoEntries) {
  const std::string good = Module("DorVIKA.dll", PatternBytes(10));
  const std::string valid = SignWithDevKey(good);
  const std::string blockOfF(512, 'F');
  const struct {
    const char* what;
    std::string content;
    bool readable;
  } cases[] = {
      {"odd length", valid + "0", false},
      {"a non-hex digit", valid.substr(0, 10) + "G" + valid.substr(11), false},
      {"a line break after the hex", valid + "\r\n", false},
      {"one byte short of a block", valid.substr(0, 510), false},
      {"a block and one byte", valid + "00", false},
      {"a block of FF", blockOfF, false},
      {"a block equal to the modulus", DevModulusHex(0), false},
      {"a good block, then one of FF", valid + blockOfF, false},
      {"empty", "", false},
      {"a zero byte first", std::string(1, '\0') + valid, false},
      {"the modulus less one opens", DevModulusHex(-1), true},
      {"what follows a zero byte is ignored", valid + std::string(1, '\0') + "xyz", true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    ASSERT_TRUE(Load(good));
    ASSERT_EQ(list_.entries.size(), 1u);
    WriteBytes(ListPath(), test.content);
    EXPECT_EQ(LoadVerificationList(ListPath(), list_), test.readable);
    if (!test.readable) {
      EXPECT_TRUE(list_.entries.empty());
    }
  }
  std::filesystem::remove(ListPath());
  EXPECT_FALSE(LoadVerificationList(ListPath(), list_));
  EXPECT_TRUE(list_.entries.empty());
}

TEST_F(VerificationListTest, ListWithoutUsableLinesLoadsEmpty) {
  ASSERT_TRUE(Load("no list here\r\nname = too short.1\r\n"));
  EXPECT_TRUE(list_.entries.empty());
  EXPECT_EQ(FindVerificationEntry(list_, "DorVIKA.dll"), -1);
}

TEST(BuiltinListPublicKey, IsAnRsaPublicKeyInPem) {
  const std::string_view pem = BuiltinListPublicKey();
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(EVP_PKEY_is_a(key, "RSA"));
  EVP_PKEY_free(key);
  BIO_free(bio);
}

TEST(ReadWholeFile, ReadsEveryByteAndRefusesNothingToRead) {
  platform_test::ScratchFolder folder;
  const Bytes content = PatternBytes(70000);
  WriteBytes(folder.Path("module"), content);
  WriteBytes(folder.Path("empty"), "");
  ValueBuffer buffer;
  ASSERT_TRUE(ReadWholeFile(folder.Path("module"), buffer));
  EXPECT_EQ(buffer.kind(), ValueKind::kBytes);
  ASSERT_EQ(buffer.length(), 70000);
  EXPECT_EQ(std::memcmp(buffer.data(), content.data(), content.size()), 0);

  for (const std::string& path :
       {std::string(), folder.Path("missing"), folder.Path("empty"), folder.path()}) {
    buffer.AppendBytes("x", 1);
    EXPECT_FALSE(ReadWholeFile(path, buffer)) << path;
    EXPECT_EQ(buffer.length(), 0) << path;
  }
}

std::string Hex(const ValueBuffer& buffer) {
  std::string hex;
  for (int32_t i = 0; i < buffer.length(); ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", buffer.data()[i]);
    hex += pair;
  }
  return hex;
}

TEST(HexDecode, DecodesPairsOfEitherCaseAndRefusesTheRest) {
  const struct {
    const char* text;
    bool decodes;
    const char* bytes;
  } cases[] = {
      {"00ff7Fa0", true, "00ff7fa0"},
      {"0123456789abcdefABCDEF", true, "0123456789abcdefabcdef"},
      {"", false, ""},
      {nullptr, false, ""},
      {"abc", false, ""},
      {"0g", false, ""},
      {"0 12", false, ""},
      {"-1", false, ""},
  };
  for (const auto& test : cases) {
    ValueBuffer buffer;
    buffer.AppendBytes("x", 1);
    EXPECT_EQ(HexDecode(buffer, test.text), test.decodes) << (test.text ? test.text : "null");
    EXPECT_EQ(Hex(buffer), test.bytes) << (test.text ? test.text : "null");
    EXPECT_EQ(buffer.kind(), test.decodes ? ValueKind::kBytes : ValueKind::kEmpty);
  }
}

TEST(Sha256Digest, MatchesTheStandardVectors) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const auto& [data, digest] : cases) {
    ValueBuffer buffer;
    buffer.AppendNarrow("previous content");
    Sha256Digest(buffer, data.data(), data.size());
    EXPECT_EQ(buffer.kind(), ValueKind::kBytes);
    EXPECT_EQ(Hex(buffer), digest) << data;
  }
}

}  // namespace
