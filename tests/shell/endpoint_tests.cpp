// The endpoint of the real frame, driven by real TLS clients.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "agent/endpoint/connection_sweep.h"
#include "agent/endpoint/response_writer.h"
#include "agent/shell/commands.h"
#include "frame_fixture.h"
#include "platform/message_box.h"
#include "platform/tick_counter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

using testing_support::BodyOf;
using testing_support::TlsClient;

namespace {

const std::string kPreflightAnswer =
    "HTTP/1.0 200 OK\r\n"
    "Server: Apache/2.0.61 (Unix)\r\n"
    "Access-Control-Allow-Origin: * \r\n"
    "Access-Control-Allow-Methods: POST, GET, OPTIONS\r\n"
    "Access-Control-Allow-Headers: X-PINGOTHER\r\n"
    "Access-Control-Allow-Private-Network: true\r\n"
    "Content-Type: text/plain\r\n"
    "Content-Length: 11\r\n"
    "\r\n"
    "||-1||OKK||";

const std::string kMalformedBody = "||-1||CGI內容錯誤||";

std::string Exchange(int port, const std::string& request) {
  TlsClient client;
  if (!client.Connect(port) || !client.Send(request)) {
    return "connect or send failed";
  }
  return client.ReadResponse();
}

// A request of exactly `size` bytes: a GET line, one padding header and the empty line.
std::string RequestOfSize(size_t size) {
  const std::string head = "GET /?a HTTP/1.1\r\nX-Pad: ";
  const std::string tail = "\r\n\r\n";
  return head + std::string(size - head.size() - tail.size(), 'p') + tail;
}

}  // namespace

TEST_F(FrameTest, preflightIsAnsweredWithTheExactBytes) {
  const std::string answer = WithClient([this] {
    return Exchange(port,
                    "OPTIONS /?InitDLL=x HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                    "Access-Control-Request-Method: GET\r\n\r\n");
  });
  EXPECT_EQ(answer, kPreflightAnswer);
  EXPECT_TRUE(frame->handedOn.empty());
}

TEST_F(FrameTest, requestLinesAreHandedOnWithoutTheProtocol) {
  struct Case {
    const char* request;
    const char* handedOn;
  } cases[] = {
      {"GET /?InitDLL=DorVIKA HTTP/1.1\r\nHost: x\r\n\r\n", "GET /?InitDLL=DorVIKA"},
      {"POST /x?ExecMethod=a HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", "POST /x?ExecMethod=a"},
      {"Host: x\r\nGET /late HTTP/1.1\r\n\r\n", "GET /late"},  // the first matching line counts
      {"get /?InitDLL=DorVIKA HTTP/1.1\r\n\r\n", ""},          // methods are upper case
      {"BREW /pot HTTP/1.1\r\n\r\n", ""},
  };
  // Each line comes back as the answer's text, so every request gets exactly its own answer.
  frame->handler = [this](SSL* connection, ValueBuffer& line) {
    SendResponse(connection, line.Chars(), *frame, 0);
  };
  for (const Case& c : cases) {
    frame->handedOn.clear();
    const std::string answer = WithClient([&] { return Exchange(port, c.request); });
    EXPECT_EQ(BodyOf(answer), "||0||" + std::string(*c.handedOn ? c.handedOn : "null") + "||")
        << c.request;
    ASSERT_EQ(frame->handedOn.size(), 1u) << c.request;
    EXPECT_EQ(frame->handedOn[0], c.handedOn);
    EXPECT_EQ(LoggedValue("SSL_read() Data"), c.handedOn);
  }
}

TEST_F(FrameTest, largeRequestsAreLoggedShortened) {
  const std::string large = RequestOfSize(40000);
  WithClient([&] { return Exchange(port, large); });
  EXPECT_EQ(LoggedValue("SSL_read() length"), "40000(0x00009C40)");
  bool shortened = false;
  for (const std::string& line : LogFrom()) {
    if (line.starts_with("- SSL_read() Data = GET /?a HTTP/1.1")) {
      EXPECT_EQ(line, "- SSL_read() Data = " + large.substr(0, 16000) +
                          " ... more ..., 影響效能, 不予顯示");
      shortened = true;
    }
  }
  EXPECT_TRUE(shortened);

  const std::string limit = RequestOfSize(32768);
  const size_t mark = LogSize();
  WithClient([&] { return Exchange(port, limit); });
  std::string logged;
  for (const std::string& line : LogFrom(mark)) {
    if (line.starts_with("- SSL_read() Data = GET /?a HTTP/1.1")) {
      logged = line;
    }
  }
  EXPECT_EQ(logged, "- SSL_read() Data = " + limit.substr(0, limit.size() - 4));
}

TEST_F(FrameTest, connectAndCloseLeavesExactlyThreeLines) {
  const size_t mark = LogSize();
  WithClient([this] {
    TlsClient client;
    client.ConnectTcp(port);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.Close();
    return 0;
  });
  ASSERT_TRUE(testing_support::RunEventsUntil([&] { return frame->ConnectionTable.empty(); }));
  const auto lines = LogFrom(mark);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "- Client connected IPv4, IP = 127.0.0.1:" + std::to_string(port));
  EXPECT_TRUE(lines[1].starts_with("- SSL accept socket = "));
  EXPECT_TRUE(lines[2].starts_with("- Socket closed, Socket = "));
}

TEST_F(FrameTest, connectionsStayInAcceptOrderAndCloseInPlace) {
  TlsClient first, second;
  ASSERT_TRUE(first.ConnectTcp(port));
  ASSERT_TRUE(testing_support::RunEventsUntil([&] { return frame->ConnectionTable.size() == 1; }));
  ASSERT_TRUE(second.ConnectTcp(port));
  ASSERT_TRUE(testing_support::RunEventsUntil([&] { return frame->ConnectionTable.size() == 2; }));
  const int secondSocket = frame->ConnectionTable[1]->socket;
  first.Close();
  ASSERT_TRUE(testing_support::RunEventsUntil([&] { return frame->ConnectionTable.size() == 1; }));
  EXPECT_EQ(frame->ConnectionTable[0]->socket, secondSocket);
  // A close event for a socket that is not in the table changes nothing and logs nothing.
  const size_t mark = LogSize();
  frame->OnSocketEvent(secondSocket + 1000, platform::FD_CLOSE);
  EXPECT_EQ(LogSize(), mark);
  EXPECT_EQ(frame->ConnectionTable.size(), 1u);
}

TEST_F(FrameTest, pipelinedRequestsGetOneAnswerEach) {
  const auto answers = WithClient([this] {
    TlsClient client;
    client.Connect(port);
    client.Send("OPTIONS / HTTP/1.1\r\n\r\nGET /?x HTTP/1.1\r\n\r\nOPTIONS / HTTP/1.1\r\n\r\n");
    return std::vector<std::string>{client.ReadResponse(), client.ReadResponse(),
                                    client.ReadResponse()};
  });
  EXPECT_EQ(answers[0], kPreflightAnswer);
  EXPECT_EQ(BodyOf(answers[1]), kMalformedBody);
  EXPECT_EQ(answers[2], kPreflightAnswer);
}

TEST_F(FrameTest, aTricklingClientHoldsUpNobodyElse) {
  const auto result = WithClient([this] {
    TlsClient slow, quick;
    slow.Connect(port);
    slow.Send("GET /?x HTTP/1.1\r\n");
    quick.Connect(port);
    quick.Send("OPTIONS / HTTP/1.1\r\n\r\n");
    const std::string quickAnswer = quick.ReadResponse(2000);
    slow.Send("Host: 127.0.0.1\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    slow.Send("\r\n");
    return std::make_pair(quickAnswer, slow.ReadResponse());
  });
  EXPECT_EQ(result.first, kPreflightAnswer);
  EXPECT_EQ(BodyOf(result.second), kMalformedBody);
  EXPECT_EQ(frame->handedOn, std::vector<std::string>{"GET /?x"});
}

TEST_F(FrameTest, anIncompleteRequestIsClosedAfterTenSeconds) {
  platform::SetTickCountForTesting(5000);
  TlsClient client;
  WithClient([&] { return client.Connect(port) && client.Send("GET /?x HTTP/1.1\r\n"); });
  ASSERT_TRUE(testing_support::RunEventsUntil([&] {
    return !frame->ConnectionTable.empty() && !frame->ConnectionTable[0]->input.empty();
  }));
  platform::AdvanceTickCountForTesting(kRequestTimeoutMs - 1);
  frame->OnTimer(IDT_CONNECTION_SWEEP);
  EXPECT_EQ(frame->ConnectionTable.size(), 1u);
  platform::AdvanceTickCountForTesting(1);
  frame->OnTimer(IDT_CONNECTION_SWEEP);
  EXPECT_TRUE(frame->ConnectionTable.empty());
  EXPECT_NE(LoggedValue("Request not complete within 10 seconds, Socket"), "");
  EXPECT_TRUE(frame->handedOn.empty());
}

TEST_F(FrameTest, oversizedRequestsAreRefusedAndTheirConnectionClosed) {
  const std::string declaredTooLarge = "GET /?x HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n";
  const std::string neverEnding = "GET /?x HTTP/1.1\r\nX-Pad: " + std::string(1100000, 'p');
  for (const std::string& request : {declaredTooLarge, neverEnding}) {
    const std::string received = WithClient([&] {
      TlsClient client;
      client.Connect(port);
      client.Send(request);
      return client.ReadUntilClosed(5000);
    });
    EXPECT_EQ(BodyOf(received), kMalformedBody);
    ASSERT_TRUE(testing_support::RunEventsUntil([&] { return frame->ConnectionTable.empty(); }));
  }
  EXPECT_TRUE(frame->handedOn.empty());
  // The endpoint keeps serving.
  EXPECT_EQ(WithClient([this] { return Exchange(port, "OPTIONS / HTTP/1.1\r\n\r\n"); }),
            kPreflightAnswer);
}

TEST_F(FrameTest, aLargeAnswerReachesASlowReaderWhole) {
  const std::string text(3 * 1024 * 1024, 'z');
  frame->handler = [&](SSL* connection, ValueBuffer&) {
    SendResponse(connection, text.c_str(), *frame, 0);
  };
  const std::string answer = WithClient([this] {
    TlsClient client;
    client.Connect(port);
    client.Send("GET /?x HTTP/1.1\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return client.ReadResponse(10000);
  });
  EXPECT_EQ(BodyOf(answer), "||0||" + text + "||");
  EXPECT_EQ(LoggedValue("執行結果"), "資料量大於 32768, 影響效能, 不予顯示");
  EXPECT_EQ(LoggedValue("SSL_write() 共寫入(Bytes)"), LoggedValue("SSL_write length"));
}

TEST_F(FrameTest, aClientThatReadsNothingIsClosedAfterTenSeconds) {
  platform::SetTickCountForTesting(1000);
  const std::string text(8 * 1024 * 1024, 'z');
  frame->handler = [&](SSL* connection, ValueBuffer&) {
    SendResponse(connection, text.c_str(), *frame, 0);
  };
  TlsClient client;
  WithClient([&] { return client.Connect(port) && client.Send("GET /?x HTTP/1.1\r\n\r\n"); });
  ASSERT_TRUE(testing_support::RunEventsUntil(
      [&] { return !frame->ConnectionTable.empty() && HasOutput(*frame->ConnectionTable[0]); }));
  platform::AdvanceTickCountForTesting(kWriteTimeoutMs);
  frame->OnTimer(IDT_CONNECTION_SWEEP);
  EXPECT_TRUE(frame->ConnectionTable.empty());
  EXPECT_NE(LoggedValue("Client read nothing for 10 seconds, Socket"), "");
}

// While a request waits in a modal loop its peer goes away: the answer must not touch the freed
// connection, and the connection is closed once the request is done.
TEST_F(FrameTest, aPeerThatClosesDuringANestedModalLoopIsClosedAfterwards) {
  bool boxAnswered = false;
  frame->handler = [&](SSL* connection, ValueBuffer& line) {
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!frame->ConnectionTable.empty() && !frame->ConnectionTable[0]->closePending) {
        return;
      }
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        box->button(QMessageBox::Yes)->click();
      }
    });
    poll.start();
    boxAnswered = platform::MessageBox(u"wait", u"test", platform::MB_YESNO) == platform::IDYES;
    CMainFrame* base = frame.get();
    base->CMainFrame::HandRequestOn(connection, line);
  };
  WithClient([this] {
    TlsClient client;
    client.Connect(port);
    client.Send("GET /?x HTTP/1.1\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    client.Close();
    return 0;
  });
  ASSERT_TRUE(testing_support::RunEventsUntil([&] { return frame->ConnectionTable.empty(); }));
  EXPECT_TRUE(boxAnswered);
  EXPECT_EQ(LoggedValue("SSL_write() 共寫入(Bytes)"), "0(0x00000000)");
  EXPECT_NE(LoggedValue("Socket closed, Socket"), "");
}

// With the descriptor table full an accept fails: that is logged, the listener pauses instead of
// waking the agent in a loop, and once descriptors are free again the waiting peer is served.
TEST_F(FrameTest, aFailedAcceptIsLoggedAndTheEndpointKeepsServing) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizers' own checks need descriptors, and this test leaves none.
  GTEST_SKIP() << "needs a build without sanitizers";
#endif
  const int peer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(peer, 0);
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  const int lowestFree = dup(peer);
  close(lowestFree);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree);  // the next descriptor would be one too many
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  const int connected = ::connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address);
  // The listener's event is delivered by hand: with no descriptor free, nothing else (the
  // sanitizers included) can be asked to work.
  frame->OnSocketEvent(frame->ListenSocket, platform::FD_ACCEPT);
  setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_EQ(connected, 0);
  EXPECT_EQ(LoggedValue("Invalid socket"), "24(0x00000018)");  // EMFILE
  // The listener stays quiet until the sweep, although the peer is still waiting.
  testing_support::RunEventsFor(100);
  EXPECT_TRUE(frame->ConnectionTable.empty());
  const auto lines = LogFrom();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.starts_with("ERROR - Invalid"); }),
            1);

  frame->OnTimer(IDT_CONNECTION_SWEEP);
  EXPECT_TRUE(testing_support::RunEventsUntil([&] { return frame->ConnectionTable.size() == 1; }));
  close(peer);
  EXPECT_EQ(WithClient([this] { return Exchange(port, "OPTIONS / HTTP/1.1\r\n\r\n"); }),
            kPreflightAnswer);
}
