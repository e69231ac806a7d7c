// The dispatcher's answers over HTTPS, for requests that never reach a loaded module.
#include <gtest/gtest.h>

#include "agent/bridge/dispatch.h"
#include "bridge_fixture.h"

namespace bridge_test {
namespace {

const std::string kMalformed = "||-1||CGI內容錯誤||";
const std::string kNoToken = "||-1||沒有指定 DllToken, 無法執行||";
const std::string kBadName = "||-1||無效的 DLL 檔名||";

class Dispatch : public BridgeTest {};

TEST_F(Dispatch, AnswersWhatNeedsNoModule) {
  struct Case {
    const char* line;
    const std::string& body;
  } cases[] = {
      {"GET /index.html", kMalformed},
      {"GET /", kMalformed},
      {"GET /?", kMalformed},
      {"GET /?&&", kMalformed},
      {"GET /?InitDLL", kMalformed},
      {"GET /?InitDLL=", kMalformed},
      {"GET /?InitDLL=&InitDLL", kMalformed},
      {"GET /?initdll=DorVIKA", kMalformed},
      {"GET /?Param1=x&DLLToken=5", kMalformed},
      {"POST /x?InitDLL=dorvika", kBadName},
      {"GET /x?y?InitDLL=DorVIKA", kMalformed},  // the first "?" starts the query
      {"GET /?InitDLL=Dor", kBadName},
      {"GET /?InitDLL=%44orVIKA", kBadName},  // command values are not decoded
      {"GET /x?InitDLL=DorVIKA&ExecMethod=GetVersion", kNoToken},
      {"GET /?ExecMethod=GetVersion&DLLToken=1", "||-1||OKKK||"},
  };
  const size_t mark = LogSize();
  const auto answers = WithClient([&] {
    std::vector<std::string> bodies;
    testing_support::TlsClient client;
    client.Connect(port);
    for (const Case& c : cases) {
      client.Send(std::string(c.line) + " HTTP/1.1\r\n\r\n");
      bodies.push_back(testing_support::BodyOf(client.ReadResponse()));
    }
    return bodies;
  });
  ASSERT_EQ(answers.size(), std::size(cases));
  for (size_t i = 0; i < answers.size(); ++i) {
    EXPECT_EQ(answers[i], cases[i].body) << cases[i].line;
  }
  // Only the routed example has a step that logs: the missing token.
  size_t errors = 0;
  for (const std::string& line : LogFrom(mark)) {
    errors += line.starts_with("ERROR - ");
  }
  EXPECT_EQ(errors, 1u);
  EXPECT_TRUE(frame->PluginTable.empty());
}

TEST_F(Dispatch, AMissingConnectionIsNotAnswered) {
  ValueBuffer line;
  line.AppendBytes("GET /?InitDLL=DorVIKA", 21);
  const size_t mark = LogSize();
  DispatchRequest(nullptr, line, *frame);
  EXPECT_EQ(LogSize(), mark);
}

}  // namespace
}  // namespace bridge_test
