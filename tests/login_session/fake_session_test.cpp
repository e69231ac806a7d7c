// Both card operations against the fake PKCS#11 library, which sits beside this program as
// "QORVPKCS11.dll": the calls and their arguments, every failure the fake can play, and that the
// library is finalised and unloaded after each outcome.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "fake_library.h"
#include "loginmodule/card_session.h"
#include "loginmodule/hex_encode.h"

namespace {

std::vector<std::string> Words(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) {
    words.push_back(word);
  }
  return words;
}

// What the fake "signs" with: the PKCS #1 v1.5 type 1 block of the SHA-1 DigestInfo of `data`.
std::string FakeSignatureHex(const std::string& data) {
  static const unsigned char kPrefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                          0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
  std::vector<unsigned char> block(256, 0xFF);
  block[0] = 0x00;
  block[1] = 0x01;
  block[256 - 36] = 0x00;
  std::copy(std::begin(kPrefix), std::end(kPrefix), block.end() - 35);
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), block.data() + 236, &length, EVP_sha1(), nullptr),
            1);
  return HexEncode(block.data(), static_cast<std::ptrdiff_t>(block.size()));
}

std::string FakeModulusHex() {
  std::vector<unsigned char> modulus(256);
  for (size_t i = 0; i < modulus.size(); ++i) {
    modulus[i] = static_cast<unsigned char>(0xC0 ^ i);
  }
  return HexEncode(modulus.data(), 256);
}

std::vector<std::string> Lines(std::initializer_list<const char*> lines) {
  return {lines.begin(), lines.end()};
}

struct SignedText {
  std::u16string data;
  std::string bytes;  // the data in the ANSI code page (UTF-8)
};

TEST(FakeCardSession, SignRunsOneWholeSessionAndSignsTheDigestInfoOfTheAnsiBytes) {
  const SignedText texts[] = {
      {u"Login challenge 0042", "Login challenge 0042"},
      {u"", ""},
      {u"Grüße 鍵 😀",
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE9\x8D\xB5 \xF0\x9F\x98\x80"},
      {std::u16string{char16_t{0xD800}, u'x'}, "?x"},        // a lone surrogate has no mapping
      {std::u16string(1024, u'd'), std::string(1024, 'd')},  // fills the data area
  };
  for (const SignedText& text : texts) {
    SCOPED_TRACE(text.bytes.substr(0, 40));
    const FakeLibrary library;
    EXPECT_EQ(SignWithCardKey(u"1234", text.data.c_str()),
              "0,Fake card key," + FakeSignatureHex(text.bytes));
    EXPECT_EQ(library.Calls(), Lines({
                                   "load",
                                   "C_Initialize args=null",
                                   "C_GetSlotList tokenPresent=1 list=null count=0",
                                   "C_GetSlotList tokenPresent=1 list=set count=2",
                                   "C_OpenSession slot=12 flags=6 application=null notify=null",
                                   "C_Login userType=1 pinLength=4",
                                   "C_FindObjectsInit count=1 type=0 class=3 valueLength=8",
                                   "C_FindObjects maxObjects=1",
                                   "C_FindObjectsFinal",
                                   "C_GetAttributeValue object=0x10 attributes=1 0x3/64",
                                   "C_SignInit mechanism=1 parameter=null/0 key=0x10",
                                   "C_Sign dataLength=35 signature=null/0",
                                   "C_Sign dataLength=35 signature=set/256",
                                   "C_Logout",
                                   "C_CloseSession",
                                   "C_Finalize reserved=null",
                                   "unload",
                               }));
    EXPECT_FALSE(FakeLibrary::Loaded());
  }
}

TEST(FakeCardSession, GetKeyAsksForThePinOnlyOnceTheSessionIsOpenAndReadsThePublicKey) {
  const FakeLibrary library;
  FakePrompt prompt(library, u"1234");
  EXPECT_EQ(ReadCardPublicKey(prompt), "0,Fake card key,010001," + FakeModulusHex());
  EXPECT_EQ(library.Calls(),
            Lines({
                "load",
                "C_Initialize args=null",
                "C_GetSlotList tokenPresent=1 list=null count=0",
                "C_GetSlotList tokenPresent=1 list=set count=2",
                "C_OpenSession slot=12 flags=6 application=null notify=null",
                "AskPin",
                "C_Login userType=1 pinLength=4",
                "C_FindObjectsInit count=1 type=0 class=2 valueLength=8",
                "C_FindObjects maxObjects=1",
                "C_FindObjectsFinal",
                "C_GetAttributeValue object=0x20 attributes=3 0x3/64 0x122/1024 0x120/1024",
                "C_Logout",
                "C_CloseSession",
                "C_Finalize reserved=null",
                "unload",
            }));
  EXPECT_FALSE(FakeLibrary::Loaded());
}

TEST(FakeCardSession, TheLabelIsTheValueUpToItsFirstNulAnd64BytesFit) {
  const struct {
    const char* scenario;
    std::string label;
  } cases[] = {
      {"label-64", "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"},
      {"label-nul", "abc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    const FakeLibrary library(c.scenario);
    EXPECT_EQ(SignWithCardKey(u"1234", u"x"), "0," + c.label + "," + FakeSignatureHex("x"));
    FakePrompt prompt(library, u"1234");
    EXPECT_EQ(ReadCardPublicKey(prompt), "0," + c.label + ",010001," + FakeModulusHex());
  }
}

// A call started from inside another call's PIN prompt finds the library initialised. It fails
// and must leave the library to the outer call, which would otherwise fail at C_Login.
TEST(FakeCardSession, ACallInsideThePinPromptFailsAndLeavesTheOuterCallWhole) {
  const FakeLibrary library;
  FakePrompt prompt(library, u"1234");
  prompt.during = [] { return SignWithCardKey(u"1234", u"inner"); };
  EXPECT_EQ(ReadCardPublicKey(prompt), "0,Fake card key,010001," + FakeModulusHex());
  EXPECT_EQ(prompt.duringResult, "401,Could not initialize cryptoki");
  EXPECT_EQ(library.CallNames(),
            Words("load C_Initialize C_GetSlotList C_GetSlotList C_OpenSession AskPin "
                  "C_Initialize C_Login C_FindObjectsInit C_FindObjects C_FindObjectsFinal "
                  "C_GetAttributeValue C_Logout C_CloseSession C_Finalize unload"));
  EXPECT_FALSE(FakeLibrary::Loaded());
}

enum class Operation { kSign, kGetKey };

struct Outcome {
  Operation operation;
  const char* scenario;
  std::u16string pin;  // for sign the argument, for getKey what the prompt answers
  std::u16string data;
  std::string result;
  // The calls between "load" and "unload"; empty when the library must not be loaded at all.
  std::string calls;
  // A log line the outcome must show, if any.
  std::string line;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << (o.operation == Operation::kSign ? "sign" : "getKey") << " " << o.scenario;
}

const std::u16string kPin = u"1234";
const std::u16string kData = u"challenge";

constexpr char kUpToSession[] = "C_Initialize C_GetSlotList C_GetSlotList C_OpenSession ";
constexpr char kFound[] =
    "C_Initialize C_GetSlotList C_GetSlotList C_OpenSession C_Login C_FindObjectsInit "
    "C_FindObjects C_FindObjectsFinal ";
constexpr char kGetKeyFound[] =
    "C_Initialize C_GetSlotList C_GetSlotList C_OpenSession AskPin C_Login C_FindObjectsInit "
    "C_FindObjects C_FindObjectsFinal ";
constexpr char kClosed[] = "C_Logout C_CloseSession C_Finalize";

std::string Concat(std::initializer_list<std::string> parts) {
  std::string all;
  for (const std::string& part : parts) {
    all += part;
  }
  return all;
}

const Outcome kOutcomes[] = {
    {Operation::kSign, "init-fails", kPin, kData, "48,Could not initialize cryptoki",
     "C_Initialize C_Finalize"},
    {Operation::kSign, "count-fails", kPin, kData, "48,Could not open SlotList",
     "C_Initialize C_GetSlotList C_Finalize"},
    {Operation::kSign, "no-token", kPin, kData, "990,No Token error",
     "C_Initialize C_GetSlotList C_Finalize"},
    {Operation::kSign, "list-fails", kPin, kData, "48,Could not get SlotList",
     "C_Initialize C_GetSlotList C_GetSlotList C_Finalize"},
    // More cards than the 20-slot list holds: asked for 20, the library refuses.
    {Operation::kSign, "slots-25", kPin, kData, "336,Could not get SlotList",
     "C_Initialize C_GetSlotList C_GetSlotList C_Finalize",
     "C_GetSlotList tokenPresent=1 list=set count=20"},
    // One slot listed, ID 3: the zero-filled second entry is used.
    {Operation::kSign, "slot-id-3", kPin, kData, "3,C_OpenSession",
     Concat({kUpToSession, "C_Finalize"}),
     "C_OpenSession slot=0 flags=6 application=null notify=null"},
    {Operation::kSign, "pin-locked", kPin, kData, "164,C_Login",
     Concat({kUpToSession, "C_Login C_CloseSession C_Finalize"})},
    {Operation::kSign, "vendor-login", kPin, kData, "-2147483647,C_Login",
     Concat({kUpToSession, "C_Login C_CloseSession C_Finalize"})},
    {Operation::kSign, "", u"", kData, "160,C_Login",
     Concat({kUpToSession, "C_Login C_CloseSession C_Finalize"}), "C_Login userType=1 pinLength=0"},
    {Operation::kSign, "", std::u16string(1024, u'9'), kData, "160,C_Login",
     Concat({kUpToSession, "C_Login C_CloseSession C_Finalize"}),
     "C_Login userType=1 pinLength=1024"},
    // A character outside the BMP is one UTF-8 sequence of 4 bytes, not two "?".
    {Operation::kSign, "", u"12😀", kData, "160,C_Login",
     Concat({kUpToSession, "C_Login C_CloseSession C_Finalize"}), "C_Login userType=1 pinLength=6"},
    {Operation::kSign, "", std::u16string(1025, u'9'), kData, "162,PIN too long", ""},
    {Operation::kSign, "", std::u16string(1023, u'9') + u"é", kData, "162,PIN too long", ""},
    {Operation::kSign, "", kPin, std::u16string(1025, u'd'), "33,Data too long", ""},
    {Operation::kSign, "", kPin, std::u16string(342, u'鍵'), "33,Data too long", ""},
    {Operation::kSign, "find-init-fails", kPin, kData, "48,C_FindObjectsInit",
     Concat({kUpToSession, "C_Login C_FindObjectsInit ", kClosed})},
    {Operation::kSign, "find-fails", kPin, kData, "48,C_FindObjects",
     Concat({kUpToSession, "C_Login C_FindObjectsInit C_FindObjects ", kClosed})},
    {Operation::kSign, "find-final-fails", kPin, kData, "48,C_FindObjects",
     Concat({kFound, kClosed})},
    {Operation::kSign, "no-key", kPin, kData, "5,FindObject", Concat({kFound, kClosed})},
    {Operation::kSign, "attribute-fails", kPin, kData, "48,getAttribute",
     Concat({kFound, "C_GetAttributeValue ", kClosed})},
    {Operation::kSign, "label-65", kPin, kData, "336,getAttribute",
     Concat({kFound, "C_GetAttributeValue ", kClosed})},
    // Claims 65 label bytes yet reports success: still never read past the 64-byte area.
    {Operation::kSign, "oversize-label", kPin, kData, "336,getAttribute",
     Concat({kFound, "C_GetAttributeValue ", kClosed})},
    {Operation::kSign, "sign-init-fails", kPin, kData, "48,C_SignInit",
     Concat({kFound, "C_GetAttributeValue C_SignInit ", kClosed})},
    {Operation::kSign, "first-sign-fails", kPin, kData, "48,C_Sign",
     Concat({kFound, "C_GetAttributeValue C_SignInit C_Sign ", kClosed})},
    {Operation::kSign, "second-sign-fails", kPin, kData, "48,C_Sign",
     Concat({kFound, "C_GetAttributeValue C_SignInit C_Sign C_Sign ", kClosed})},
    // A signature longer than the 1024-byte area is not fetched at all.
    {Operation::kSign, "oversize-signature", kPin, kData, "336,C_Sign",
     Concat({kFound, "C_GetAttributeValue C_SignInit C_Sign ", kClosed})},

    // getKey shows no prompt without a card.
    {Operation::kGetKey, "no-token", kPin, u"", "990,No Token error",
     "C_Initialize C_GetSlotList C_Finalize"},
    // Cancel, or OK with an empty field.
    {Operation::kGetKey, "", u"", u"", "5,C_Login",
     Concat({kUpToSession, "AskPin C_CloseSession C_Finalize"})},
    {Operation::kGetKey, "", std::u16string(1025, u'9'), u"", "162,PIN too long",
     Concat({kUpToSession, "AskPin C_CloseSession C_Finalize"})},
    {Operation::kGetKey, "pin-locked", kPin, u"", "164,C_Login",
     Concat({kUpToSession, "AskPin C_Login C_CloseSession C_Finalize"})},
    {Operation::kGetKey, "no-key", kPin, u"", "5,FindObject", Concat({kGetKeyFound, kClosed})},
    {Operation::kGetKey, "label-65", kPin, u"", "336,getAttribute",
     Concat({kGetKeyFound, "C_GetAttributeValue ", kClosed})},
    {Operation::kGetKey, "oversize-exponent", kPin, u"", "336,getAttribute",
     Concat({kGetKeyFound, "C_GetAttributeValue ", kClosed})},
    {Operation::kGetKey, "oversize-modulus", kPin, u"", "336,getAttribute",
     Concat({kGetKeyFound, "C_GetAttributeValue ", kClosed})},
};

class FakeCardOutcome : public ::testing::TestWithParam<Outcome> {};

TEST_P(FakeCardOutcome, GivesItsLineClosesInOrderAndReleasesTheLibrary) {
  const Outcome& o = GetParam();
  const FakeLibrary library(o.scenario);
  FakePrompt prompt(library, o.pin);
  const std::string result = o.operation == Operation::kSign
                                 ? SignWithCardKey(o.pin.c_str(), o.data.c_str())
                                 : ReadCardPublicKey(prompt);
  EXPECT_EQ(result, o.result);

  std::vector<std::string> expected;
  if (!o.calls.empty()) {
    expected = Words("load " + o.calls + " unload");
  }
  EXPECT_EQ(library.CallNames(), expected);
  if (!o.line.empty()) {
    const std::vector<std::string> calls = library.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), o.line), calls.end()) << o.line;
  }
  EXPECT_FALSE(FakeLibrary::Loaded());
}

INSTANTIATE_TEST_SUITE_P(Table, FakeCardOutcome, ::testing::ValuesIn(kOutcomes),
                         [](const ::testing::TestParamInfo<Outcome>& info) {
                           const Outcome& o = info.param;
                           std::string name = o.operation == Operation::kSign ? "Sign_" : "GetKey_";
                           for (const char c : std::string(*o.scenario ? o.scenario : "plain")) {
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           }
                           return name + "_" + std::to_string(info.index);
                         });

TEST(FakeCardSession, NullTextsAreEmpty) {
  const FakeLibrary library;
  EXPECT_EQ(SignWithCardKey(u"1234", nullptr), "0,Fake card key," + FakeSignatureHex(""));
  // The fake takes no empty PIN; what matters is that C_Login got the length 0.
  EXPECT_EQ(SignWithCardKey(nullptr, u"x"), "160,C_Login");
  const std::vector<std::string> calls = library.Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "C_Login userType=1 pinLength=0"), calls.end());
}

}  // namespace
