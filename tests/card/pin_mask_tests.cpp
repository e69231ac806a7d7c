#include <gtest/gtest.h>

#include <string>

#include "agent/bridge/pin_mask.h"

namespace {

struct MaskCase {
  const char* text;
  const char* logged;
};

TEST(MaskPinsInRequestTextTest, MasksThePinParametersOfPinMethods) {
  const MaskCase cases[] = {
      {"GET /?ExecMethod=VerifyANPin&DLLToken=5&Param1=1234 HTTP/1.1",
       "GET /?ExecMethod=VerifyANPin&DLLToken=5&Param1=****** HTTP/1.1"},
      {"GET /?ExecMethod=ResetANPIN&Param1=1234&Param2=x HTTP/1.1",
       "GET /?ExecMethod=ResetANPIN&Param1=******&Param2=x HTTP/1.1"},
      {"GET /?ExecMethod=ChangeANPin&Param1=1234&Param2=5678&Param3=9 HTTP/1.1",
       "GET /?ExecMethod=ChangeANPin&Param1=******&Param2=******&Param3=9 HTTP/1.1"},
      {"GET /?ExecMethod=sign&Param1=1234&Param2=data HTTP/1.1",
       "GET /?ExecMethod=sign&Param1=******&Param2=data HTTP/1.1"},
      // Raw values, whatever their encoding; a repeated parameter joins, so each part is masked.
      {"GET /?ExecMethod=VerifyANPin&Param1=%31%32+%E4%B8%AD",
       "GET /?ExecMethod=VerifyANPin&Param1=******"},
      {"GET /?ExecMethod=VerifyANPin&Param1=12&Param1=34&Param1=12=34",
       "GET /?ExecMethod=VerifyANPin&Param1=******&Param1=******&Param1=******"},
      // The method is what the dispatcher calls: all command values joined, in any position.
      {"GET /?Param1=1234&ExecMethod=VerifyANPin", "GET /?Param1=******&ExecMethod=VerifyANPin"},
      {"GET /?ExecMethod=Verify&Param1=1234&ExecMethod=ANPin",
       "GET /?ExecMethod=Verify&Param1=******&ExecMethod=ANPin"},
      // The query runs to " HTTP/", as the dispatcher's line does; empty pieces stay.
      {"GET /?ExecMethod=VerifyANPin&Param1=12 34 HTTP/1.1",
       "GET /?ExecMethod=VerifyANPin&Param1=****** HTTP/1.1"},
      {"GET /?&&ExecMethod=VerifyANPin&&Param1=1234&",
       "GET /?&&ExecMethod=VerifyANPin&&Param1=******&"},
  };
  for (const MaskCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(MaskPinsInRequestText(c.text), c.logged);
  }
}

TEST(MaskPinsInRequestTextTest, LeavesEverythingElseAsItIs) {
  const char* unchanged[] = {
      "GET /?ExecMethod=TermAuth&Param1=1234&Param2=5678 HTTP/1.1",
      "GET /?ExecMethod=getKey&Param1=1234 HTTP/1.1",
      "GET /?ExecMethod=verifyanpin&Param1=1234 HTTP/1.1",
      "GET /?InitDLL=DorVIKA&Param1=1234 HTTP/1.1",
      "GET /?ExecMethod=Verify%41NPin&Param1=1234 HTTP/1.1",
      "GET /?ExecMethod=VerifyANPin&Param2=1234&Param%31=1234&param1=1234&Param10=1234",
      "GET /?ExecMethod=VerifyANPin&Param1&Param1=&DLLToken=1234",
      "GET /index.html HTTP/1.1",
      "",
  };
  for (const char* text : unchanged) {
    SCOPED_TRACE(text);
    EXPECT_EQ(MaskPinsInRequestText(text), text);
  }
}

TEST(MaskPinsInRequestTextTest, MasksEachLineOfAWholeRequestOnItsOwn) {
  const std::string request =
      "\r\n"
      "POST /x?ExecMethod=VerifyANPin&Param1=1234 HTTP/1.1\r\n"
      "Host: 127.0.0.1:64001\r\n"
      "Referer: https://example.test/?Param1=abc\r\n"
      "\r\n"
      "GET /?ExecMethod=TermAuth&Param1=1234\n"
      "GET /?ExecMethod=sign&Param1=1234&Param2=d\r";
  EXPECT_EQ(MaskPinsInRequestText(request),
            "\r\n"
            "POST /x?ExecMethod=VerifyANPin&Param1=****** HTTP/1.1\r\n"
            "Host: 127.0.0.1:64001\r\n"
            "Referer: https://example.test/?Param1=abc\r\n"
            "\r\n"
            "GET /?ExecMethod=TermAuth&Param1=1234\n"
            "GET /?ExecMethod=sign&Param1=******&Param2=d\r");
}

}  // namespace
