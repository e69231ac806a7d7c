#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/bridge/card_methods.h"
#include "card/card_test_frame.h"

namespace {

using card_test::TestFrame;

void SetNarrow(ValueBuffer& buffer, const char* text) {
  buffer.Reset();
  buffer.AppendNarrow(text);
}

void SetParameter(RequestFields& fields, int index, const char16_t* value) {
  SetNarrow(fields.pairs[index].name, ("Param" + std::to_string(index)).c_str());
  fields.pairs[index].value.Reset();
  fields.pairs[index].value.AppendWide(value);
}

RequestFields CallOf(const char* method) {
  RequestFields fields;
  SetNarrow(fields.pairs[0].name, "ExecMethod");
  SetNarrow(fields.pairs[0].value, method);
  return fields;
}

std::vector<std::string> Logged(const RequestFields& fields) {
  TestFrame frame;
  LogRequestParameters(frame, fields);
  return frame.Lines();
}

TEST(LogRequestParametersTest, EachValueKindHasItsLineAndPairsWithoutANarrowNameHaveNone) {
  RequestFields fields = CallOf("GetDllVersion");
  SetParameter(fields, 1, u"中文");
  SetNarrow(fields.pairs[2].name, "Param2");
  SetNarrow(fields.pairs[2].value, "abc");
  SetNarrow(fields.pairs[3].name, "Param3");  // present without a value
  fields.pairs[4].name.AppendWide(u"Param4");
  fields.pairs[4].value.AppendWide(u"wide name");
  fields.pairs[5].name.AppendBytes("Param5", 6);
  fields.pairs[5].value.AppendWide(u"bytes name");
  fields.pairs[6].value.AppendWide(u"no name");
  SetNarrow(fields.pairs[7].name, "Param7");
  fields.pairs[7].value.AppendBytes("AB\n", 3);
  SetNarrow(fields.pairs[9].name, "Param9Param9");  // a repeated field joins its names
  fields.pairs[9].value.AppendWide(u"xy");

  const std::vector<std::string> lines = Logged(fields);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "參數 Param1 = 中文");
  EXPECT_EQ(lines[1], "參數 Param2 = abc");
  EXPECT_EQ(lines[2], "參數 Param3 = null(0x00000000)");
  EXPECT_NE(lines[3].find("參數 Param7 : (len=3)"), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find("41 42 0a"), std::string::npos) << lines[4];
  EXPECT_EQ(lines[5], "參數 Param9Param9 = xy");
}

struct PinCase {
  const char* method;
  std::vector<std::string> lines;  // for Param1 = 1111, Param2 = 2222, Param3 = 3333
};

TEST(LogRequestParametersTest, PinParametersAreMasked) {
  const PinCase cases[] = {
      {"VerifyANPin", {"參數 Param1 = ******", "參數 Param2 = 2222", "參數 Param3 = 3333"}},
      {"ResetANPIN", {"參數 Param1 = ******", "參數 Param2 = 2222", "參數 Param3 = 3333"}},
      {"ChangeANPin", {"參數 Param1 = ******", "參數 Param2 = ******", "參數 Param3 = 3333"}},
      {"sign", {"參數 Param1 = ******", "參數 Param2 = 2222", "參數 Param3 = 3333"}},
      {"TermAuth", {"參數 Param1 = 1111", "參數 Param2 = 2222", "參數 Param3 = 3333"}},
      {"getKey", {"參數 Param1 = 1111", "參數 Param2 = 2222", "參數 Param3 = 3333"}},
  };
  for (const PinCase& c : cases) {
    SCOPED_TRACE(c.method);
    RequestFields fields = CallOf(c.method);
    SetParameter(fields, 1, u"1111");
    SetParameter(fields, 2, u"2222");
    SetParameter(fields, 3, u"3333");
    EXPECT_EQ(Logged(fields), c.lines);
  }

  // Whatever kind the value has; an empty one has nothing to hide.
  RequestFields fields = CallOf("ChangeANPin");
  SetNarrow(fields.pairs[1].name, "Param1Param1");
  fields.pairs[1].value.AppendBytes("1234", 4);
  SetNarrow(fields.pairs[2].name, "Param2");
  EXPECT_EQ(Logged(fields), (std::vector<std::string>{"參數 Param1Param1 = ******",
                                                      "參數 Param2 = null(0x00000000)"}));
}

}  // namespace
