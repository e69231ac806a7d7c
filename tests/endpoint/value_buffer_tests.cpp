#include "agent/endpoint/value_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(ValueBuffer, appendsKeepTwoZeroBytesAndTheirKind) {
  ValueBuffer buffer;
  EXPECT_EQ(buffer.kind(), ValueKind::kEmpty);
  EXPECT_TRUE(buffer.AppendNarrow("GET"));
  EXPECT_TRUE(buffer.AppendNarrow(" /"));
  EXPECT_EQ(buffer.kind(), ValueKind::kNarrow);
  EXPECT_EQ(buffer.length(), 5);
  EXPECT_STREQ(buffer.NarrowText(), "GET /");
  EXPECT_EQ(buffer.data()[5], 0);
  EXPECT_EQ(buffer.data()[6], 0);
  EXPECT_EQ(buffer.WideText(), nullptr);

  ValueBuffer wide;
  EXPECT_TRUE(wide.AppendWide(u"\u4e2d"));
  EXPECT_TRUE(wide.AppendWide(u"x"));
  EXPECT_EQ(wide.length(), 4);
  EXPECT_EQ(std::u16string(wide.WideText()), u"\u4e2dx");
  EXPECT_EQ(wide.NarrowText(), nullptr);
}

TEST(ValueBuffer, refusedAppendsChangeNothing) {
  struct Case {
    ValueKind start;
    bool bytes, narrow, wide;  // which appends are accepted
  } cases[] = {
      {ValueKind::kEmpty, true, true, true},
      {ValueKind::kBytes, true, true, false},
      {ValueKind::kNarrow, false, true, false},
      {ValueKind::kWide, false, false, true},
  };
  for (const Case& c : cases) {
    auto make = [&] {
      ValueBuffer b;
      if (c.start == ValueKind::kBytes)
        b.AppendBytes("ab", 2);
      if (c.start == ValueKind::kNarrow)
        b.AppendNarrow("ab");
      if (c.start == ValueKind::kWide)
        b.AppendWide(u"ab");
      return b;
    };
    ValueBuffer b1 = make(), b2 = make(), b3 = make();
    const int32_t before = b1.length();
    EXPECT_EQ(b1.AppendBytes("c", 1), c.bytes);
    EXPECT_EQ(b2.AppendNarrow("c"), c.narrow);
    EXPECT_EQ(b3.AppendWide(u"c"), c.wide);
    EXPECT_EQ(b1.length(), c.bytes ? before + 1 : before);
    EXPECT_EQ(b2.length(), c.narrow ? before + 1 : before);
    EXPECT_EQ(b3.length(), c.wide ? before + 2 : before);
  }
  ValueBuffer b;
  EXPECT_FALSE(b.AppendNarrow(""));
  EXPECT_FALSE(b.AppendNarrow(nullptr));
  EXPECT_FALSE(b.AppendBytes("x", 0));
  EXPECT_FALSE(b.AppendWide(nullptr));
  EXPECT_EQ(b.kind(), ValueKind::kEmpty);
}

TEST(ValueBuffer, copiesOwnTheirContentAndResetEmpties) {
  ValueBuffer a;
  a.AppendBytes("xyz", 3);
  ValueBuffer b = a;
  a.Reset();
  EXPECT_EQ(a.kind(), ValueKind::kEmpty);
  EXPECT_EQ(a.data(), nullptr);
  EXPECT_EQ(b.kind(), ValueKind::kBytes);
  EXPECT_EQ(std::memcmp(b.data(), "xyz", 4), 0);
}
