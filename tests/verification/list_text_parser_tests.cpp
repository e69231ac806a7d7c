#include "agent/bridge/list_text_parser.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

const std::string kDigest = "00112233445566778899AABBCCDDEEFF00112233445566778899aabbccddeeff";

struct Expected {
  std::u16string name;
  bool hasDigest;
  int32_t size;
};

void ExpectEntries(const std::string& text, const std::vector<Expected>& expected) {
  SCOPED_TRACE(testing::Message() << "text: \"" << text << "\"");
  const std::vector<VerificationEntry> entries = ParseListText(text);
  ASSERT_EQ(entries.size(), expected.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_TRUE(entries[i].name == expected[i].name) << "entry " << i;
    EXPECT_EQ(entries[i].digest.length(), expected[i].hasDigest ? 32 : 0) << "entry " << i;
    EXPECT_EQ(entries[i].size, expected[i].size) << "entry " << i;
  }
}

TEST(ParseListText, ReadsNameDigestAndSize) {
  const std::vector<VerificationEntry> entries = ParseListText("a.dll = " + kDigest + ".12");
  ASSERT_EQ(entries.size(), 1u);
  ASSERT_EQ(entries[0].digest.length(), 32);
  EXPECT_EQ(entries[0].digest.kind(), ValueKind::kBytes);
  const uint8_t* digest = entries[0].digest.data();
  EXPECT_EQ(digest[0], 0x00);
  EXPECT_EQ(digest[10], 0xAA);
  EXPECT_EQ(digest[31], 0xFF);  // lower-case digits too
}

TEST(ParseListText, TrimsWhiteSpaceAroundNameAndValue) {
  ExpectEntries(" \t dorvika.DLL \t=  " + kDigest + ".5 \t\v", {{u"dorvika.DLL", true, 5}});
  ExpectEntries("模組.dll=" + kDigest + ".5", {{u"模組.dll", true, 5}});
}

TEST(ParseListText, ValuesOf40CharactersOrWithoutDotMakeNoEntry) {
  const std::string digits39(39, '0');
  ExpectEntries("a = " + digits39.substr(1) + ".1", {});  // 40 characters
  ExpectEntries("a = " + digits39 + ".1", {{u"a", false, 1}});
  ExpectEntries("a = " + kDigest + "12", {});
  ExpectEntries("a " + kDigest + ".12", {});
  ExpectEntries("", {});
}

TEST(ParseListText, DigestTextMustBe64HexDigits) {
  ExpectEntries("a = " + kDigest.substr(1) + ".7", {{u"a", false, 7}});
  ExpectEntries("a = 0" + kDigest + ".7", {{u"a", false, 7}});
  ExpectEntries("a = 00" + kDigest + ".7", {{u"a", false, 7}});
  ExpectEntries("a = " + kDigest.substr(1) + "G.7", {{u"a", false, 7}});
  // White space inside the value is part of the digest text.
  ExpectEntries("a = " + kDigest + " .7", {{u"a", false, 7}});
}

TEST(ParseListText, SizeIsACIntegerLiteral) {
  const std::pair<std::string, int32_t> cases[] = {
      {"123456", 123456},
      {"0x1E240", 123456},
      {"0361100", 123456},
      {" 42", 42},
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"-1", -1},
      {"99999999999", std::numeric_limits<int32_t>::max()},
      {"-99999999999", std::numeric_limits<int32_t>::min()},
  };
  for (const auto& [text, size] : cases) {
    ExpectEntries("a = " + kDigest + "." + text, {{u"a", true, size}});
  }
}

TEST(ParseListText, OnlyCrLfSeparatesLinesAndTheTextEndsAtZero) {
  const std::string line1 = "a = " + kDigest + ".1";
  const std::string line2 = "b = " + kDigest + ".2";
  ExpectEntries(line1 + "\r\n" + line2 + "\r\n", {{u"a", true, 1}, {u"b", true, 2}});
  ExpectEntries("\r\n\r\nno equals sign\r\n" + line2, {{u"b", true, 2}});
  // A lone LF stays in the line: the size text "1\nb = ..." reads as 1.
  ExpectEntries(line1 + "\n" + line2, {{u"a", true, 1}});
  ExpectEntries(line1 + std::string("\0\r\n", 3) + line2, {{u"a", true, 1}});
}

}  // namespace
