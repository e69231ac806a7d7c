// The pieces of the result line: hexadecimal fields and the code of a failure.
#include <gtest/gtest.h>

#include "loginmodule/hex_encode.h"
#include "loginmodule/result_line.h"

namespace {

TEST(HexEncode, TwoUpperCaseDigitsPerByteHighNibbleFirst) {
  const unsigned char bytes[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x00, 0xFF};
  EXPECT_EQ(HexEncode(bytes, sizeof bytes), "0123456789ABCDEF00FF");
  EXPECT_EQ(HexEncode(bytes, 1), "01");
  EXPECT_EQ(HexEncode(bytes, 0), "");
  EXPECT_EQ(HexEncode(bytes, -1), "");
}

TEST(FailureLine, TheCodeIsTheSignedValueOfItsLow32Bits) {
  const struct {
    CK_RV code;
    const char* line;
  } cases[] = {
      {CKR_PIN_INCORRECT, "160,C_Login"}, {0x80000001UL, "-2147483647,C_Login"},
      {0xFFFFFFFFUL, "-1,C_Login"},       {0x7FFFFFFFUL, "2147483647,C_Login"},
      {0x1000000A0UL, "160,C_Login"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FailureLine({c.code, "C_Login"}), c.line);
  }
}

TEST(SuccessLine, ZeroTheLabelAndTheFieldsWithSingleCommas) {
  EXPECT_EQ(SuccessLine("Key 1", {"010001", "C0FF"}), "0,Key 1,010001,C0FF");
  EXPECT_EQ(SuccessLine("", {""}), "0,,");
}

}  // namespace
