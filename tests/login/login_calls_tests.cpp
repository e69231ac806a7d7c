// ExecMethod on the real login module, through the agent over HTTPS. The module is the built
// Quillomat.dll, installed and listed by the bridge fixture; the card library it loads is the fake
// beside this program.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>

#include "bridge/bridge_fixture.h"
#include "login_session/fake_library.h"
#include "pin_dialog_watch.h"
#include "platform/tick_counter.h"

namespace bridge_test {
namespace {

using testing_support::BodyOf;
using testing_support::TlsClient;

const std::string kNotCalled = "||-1||null||";

std::string Sha1Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr), 1);
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

// The fake's signature is the padded DigestInfo itself, so it ends with the data's SHA-1.
std::string SignedBy(const std::string& data) {
  return "0,Fake card key," + std::string(512 - 40, '.') + Sha1Hex(data);
}

bool MatchesSigned(const std::string& body, const std::string& data) {
  const std::string expected = "||" + std::string("0||") + SignedBy(data) + "||";
  if (body.size() != expected.size()) {
    return false;
  }
  return std::equal(body.begin(), body.end(), expected.begin(),
                    [](char got, char want) { return want == '.' || got == want; });
}

bool HasCall(const FakeLibrary& library, const std::string& line) {
  const std::vector<std::string> calls = library.Calls();
  return std::find(calls.begin(), calls.end(), line) != calls.end();
}

class LoginCalls : public BridgeTest {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    InstallModules(true);
    platform::SetTickCountForTesting(7000);
    ASSERT_EQ(Ask("InitDLL=Quillomat"), "||0||7000||");
  }

  std::string Exec(const std::string& method, const std::string& parameters = "") {
    return Ask(Query(method, parameters));
  }
  static std::string Query(const std::string& method, const std::string& parameters = "") {
    return "ExecMethod=" + method + "&DLLToken=7000" + (parameters.empty() ? "" : "&") + parameters;
  }
  static std::string Request(const std::string& query) {
    return "GET /?" + query + " HTTP/1.1\r\n\r\n";
  }

  login_test::PinDialogWatch dialog;
};

TEST_F(LoginCalls, MethodsOutsideTheTableAreNotCalled) {
  const FakeLibrary library;
  // Only the agent's own card table answers GetVersion; names are matched exactly.
  for (const char* method :
       {"Sign", "SIGN", "getkey", "GetVersion", "_sign@8", "sign@8", "signx"}) {
    EXPECT_EQ(Exec(method, "Param1=1234&Param2=x"), kNotCalled) << method;
  }
  EXPECT_TRUE(library.Calls().empty());
}

TEST_F(LoginCalls, SignPassesThePinThenTheDataAndAnswersTheModulesTextWithCode0) {
  const FakeLibrary library;
  EXPECT_TRUE(MatchesSigned(Exec("sign", "Param1=1234&Param2=challenge"), "challenge"));
  EXPECT_TRUE(MatchesSigned(Exec("sign", "Param1=1234"), ""));
  // Card failures are the module's text, not the call's.
  EXPECT_EQ(Exec("sign", "Param1=9999&Param2=challenge"), "||0||160,C_Login||");
  EXPECT_EQ(Exec("sign", "Param2=challenge"), "||0||160,C_Login||");
  EXPECT_TRUE(HasCall(library, "C_Login userType=1 pinLength=0"));
}

TEST_F(LoginCalls, PercentEncodedUtf8ReachesTheModuleDecoded) {
  const FakeLibrary library;
  EXPECT_TRUE(MatchesSigned(Exec("sign", "Param1=%31%32%33%34&Param2=%E7%99%BB%E5%85%A5%20ok"),
                            "\xE7\x99\xBB\xE5\x85\xA5 ok"));
  // "密碼": two characters, six bytes once the module has it in the ANSI code page.
  EXPECT_EQ(Exec("sign", "Param1=%E5%AF%86%E7%A2%BC&Param2=x"), "||0||160,C_Login||");
  EXPECT_TRUE(HasCall(library, "C_Login userType=1 pinLength=6"));
}

TEST_F(LoginCalls, ThePinReachesNoLogEntry) {
  const FakeLibrary library;
  const size_t mark = LogSize();
  const std::string answer = Exec("sign", "Param1=1234&Param2=challenge");
  ASSERT_TRUE(MatchesSigned(answer, "challenge"));
  ASSERT_EQ(answer.find("1234"), std::string::npos) << "pick data whose signature avoids the PIN";
  EXPECT_EQ(Exec("sign", "Param1=%37%33%39%31%35&Param2=x"), "||0||160,C_Login||");
  const std::vector<std::string> lines = LogFrom(mark);
  // The call's own lines: method, parameters (the PIN masked), and the module's text.
  const auto call = std::find(lines.begin(), lines.end(), "- 執行 Function = sign");
  ASSERT_GE(std::distance(call, lines.end()), 4);
  EXPECT_EQ(call[1], "- 參數 Param1 = ******");
  EXPECT_EQ(call[2], "- 參數 Param2 = challenge");
  EXPECT_TRUE(call[3].starts_with("- 執行結果 = 0,Fake card key,")) << call[3];
  for (const std::string& line : lines) {
    for (const char* secret : {"1234", "73915", "%37%33%39%31%35"}) {
      EXPECT_EQ(line.find(secret), std::string::npos) << line;
    }
  }
}

// The prompt's modal loop runs inside the agent's: other connections are served meanwhile, and the
// waiting page gets its answer only when the prompt closes.
TEST_F(LoginCalls, GetKeyAnswersWhenThePromptClosesAndOthersAreServedMeanwhile) {
  const FakeLibrary library;
  const size_t mark = LogSize();
  struct Seen {
    bool opened = false;
    std::string preflight, answer;
  };
  const Seen seen = WithClient([&] {
    Seen s;
    TlsClient waiting;
    waiting.Connect(port);
    waiting.Send(Request(Query("getKey")));
    s.opened = dialog.WaitUntilOpen();
    TlsClient other;
    other.Connect(port);
    other.Send("OPTIONS / HTTP/1.1\r\n\r\n");
    s.preflight = BodyOf(other.ReadResponse());
    dialog.Answer(QStringLiteral("1234"));
    s.answer = BodyOf(waiting.ReadResponse());
    return s;
  });
  EXPECT_TRUE(seen.opened);
  EXPECT_EQ(seen.preflight, "||-1||OKK||");
  EXPECT_TRUE(seen.answer.starts_with("||0||0,Fake card key,010001,")) << seen.answer;
  // The preflight came in and was answered between the call's start and its result.
  const std::vector<std::string> lines = LogFrom(mark);
  const auto position = [&](const std::string& prefix) {
    return std::find_if(lines.begin(), lines.end(),
                        [&](const std::string& line) { return line.starts_with(prefix); }) -
           lines.begin();
  };
  const auto called = position("- 執行 Function = getKey");
  const auto preflight = position("- SSL_read() Data = OPTIONS / HTTP/1.1");
  const auto result = position("- 執行結果 = 0,Fake card key,");
  EXPECT_LT(called, preflight);
  EXPECT_LT(preflight, result);
  EXPECT_LT(result, static_cast<std::ptrdiff_t>(lines.size()));

  // The next prompt is cancelled: the module's own code 5.
  dialog.Answer(std::nullopt);
  EXPECT_EQ(Exec("getKey"), "||0||5,C_Login||");
}

// A sign started from inside the prompt overlaps the waiting getKey on the one card library: it
// fails as the library reports it, and the getKey still completes.
TEST_F(LoginCalls, ASignWhileThePromptIsOpenLeavesTheGetKeyWhole) {
  const FakeLibrary library;
  const auto answers = WithClient([&] {
    TlsClient waiting;
    waiting.Connect(port);
    waiting.Send(Request(Query("getKey")));
    std::pair<std::string, std::string> result;
    if (dialog.WaitUntilOpen()) {
      TlsClient other;
      other.Connect(port);
      other.Send(Request(Query("sign", "Param1=1234&Param2=x")));
      result.first = BodyOf(other.ReadResponse());
    }
    dialog.Answer(QStringLiteral("1234"));
    result.second = BodyOf(waiting.ReadResponse());
    return result;
  });
  EXPECT_EQ(answers.first, "||0||401,Could not initialize cryptoki||");
  EXPECT_TRUE(answers.second.starts_with("||0||0,Fake card key,010001,")) << answers.second;
}

}  // namespace
}  // namespace bridge_test
