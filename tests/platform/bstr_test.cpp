#include "platform/bstr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

namespace {

using namespace std::literals;

uint32_t BytePrefix(BSTR text) {
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(text) - sizeof(bytes), sizeof(bytes));
  return bytes;
}

// Other modules read the prefix and the terminator directly, so the layout itself is the contract.
TEST(Bstr, HoldsByteLengthUnitsAndTerminator) {
  const std::u16string_view cases[] = {u""sv, u"0,label"sv, u"a\0b"sv, u"\U0001F600\u5370"sv};
  for (const std::u16string_view text : cases) {
    BSTR copy = SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(BytePrefix(copy), text.size() * 2);
    EXPECT_EQ(SysStringLen(copy), text.size());
    EXPECT_EQ(std::u16string_view(copy, text.size()), text);
    EXPECT_EQ(copy[text.size()], u'\0');
    SysFreeString(copy);
  }
}

TEST(Bstr, CopiesAreIndependentOfTheirSource) {
  std::u16string source = u"abc";
  BSTR first = SysAllocStringLen(source.data(), 3);
  BSTR second = SysAllocStringLen(source.data(), 3);
  source[0] = u'x';
  first[1] = u'y';
  EXPECT_EQ(std::u16string_view(first), u"ayc");
  EXPECT_EQ(std::u16string_view(second), u"abc");
  SysFreeString(first);
  SysFreeString(second);
}

TEST(Bstr, NullTextGivesZeroedUnits) {
  BSTR text = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 4u);
  EXPECT_EQ(std::u16string_view(text, 5), u"\0\0\0\0\0"sv);
  SysFreeString(text);
}

TEST(Bstr, NullAndOversizedAreHandled) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  // The byte length would not fit the 32-bit prefix.
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
}

}  // namespace
