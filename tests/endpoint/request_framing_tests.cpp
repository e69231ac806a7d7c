#include "agent/endpoint/request_framing.h"

#include <gtest/gtest.h>

#include "agent/endpoint/request_line.h"

using Status = RequestFraming::Status;

TEST(RequestFraming, aRequestEndsAfterItsHeaderAndBody) {
  struct Case {
    std::string input;
    Status status;
    size_t length;
  } cases[] = {
      {"GET / HTTP/1.1\r\nHost: x\r\n", Status::kIncomplete, 0},
      {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", Status::kComplete, 27},
      {"GET / HTTP/1.1\n\n", Status::kComplete, 16},
      {"GET / HTTP/1.1\r\n\r\nGET /next", Status::kComplete, 18},
      {"POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nab", Status::kIncomplete, 0},
      {"POST / HTTP/1.1\r\ncontent-length:  3\r\n\r\nabcGET", Status::kComplete, 42},
      {"POST / HTTP/1.1\r\nContent-Length: x3\r\n\r\n", Status::kComplete, 39},
      {"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n", Status::kTooLarge, 0},
      {"POST / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n", Status::kTooLarge, 0},
  };
  for (const Case& c : cases) {
    const RequestFraming framing = FrameRequest(c.input);
    EXPECT_EQ(framing.status, c.status) << c.input;
    EXPECT_EQ(framing.length, c.length) << c.input;
  }
  EXPECT_EQ(FrameRequest(std::string(kRequestSizeLimit + 1, 'a')).status, Status::kTooLarge);
  EXPECT_EQ(FrameRequest(std::string(kRequestSizeLimit, 'a')).status, Status::kIncomplete);
}

TEST(RequestLine, theFirstMatchingLineDecides) {
  struct Case {
    std::string text;
    RequestLine::Kind kind;
    std::string line;
  } cases[] = {
      {"GET /?a HTTP/1.1\r\nHost: x", RequestLine::Kind::kRequest, "GET /?a HTTP/1.1"},
      {"\r\n\r\nPOST /b\r\n", RequestLine::Kind::kRequest, "POST /b"},
      {"OPTIONS /?x HTTP/1.1\r\nGET /", RequestLine::Kind::kPreflight, ""},
      {"GET /\nOPTIONS /", RequestLine::Kind::kRequest, "GET /"},
      {"get / HTTP/1.1\r\n", RequestLine::Kind::kNone, ""},
      {"GET", RequestLine::Kind::kNone, ""},
      {std::string("X\0GET /", 7), RequestLine::Kind::kNone, ""},
  };
  for (const Case& c : cases) {
    const RequestLine found = FindRequestLine(c.text);
    EXPECT_EQ(found.kind, c.kind) << c.text;
    EXPECT_EQ(std::string(found.line), c.line) << c.text;
  }
  EXPECT_EQ(WithoutProtocol("GET /?InitDLL=DorVIKA HTTP/1.1"), "GET /?InitDLL=DorVIKA");
  EXPECT_EQ(WithoutProtocol("GET /plain"), "GET /plain");
}
