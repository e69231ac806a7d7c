#include "platform/socket_notifications.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform_qt/bounded_loop.h"
#include "platform_qt/test_sockets.h"

namespace platform {
namespace {

using platform_test::Connect;
using platform_test::Connection;
using platform_test::Drain;
using platform_test::Fd;
using platform_test::RunFor;
using platform_test::RunUntil;
using platform_test::Send;
using platform_test::Transport;
using platform_test::WakeupCounter;

constexpr int kSafetyMs = 3000;
// A spinning loop wakes up thousands of times in the periods measured here.
constexpr int kQuietWakeups = 150;

struct Event {
  int socket;
  int event;
  bool operator==(const Event&) const = default;
};

void PrintTo(const Event& e, std::ostream* os) {
  const char* name = e.event == FD_READ     ? "FD_READ"
                     : e.event == FD_WRITE  ? "FD_WRITE"
                     : e.event == FD_ACCEPT ? "FD_ACCEPT"
                     : e.event == FD_CLOSE  ? "FD_CLOSE"
                                            : "?";
  *os << "{" << e.socket << ", " << name << "}";
}

using Events = std::vector<Event>;

class RecordingSink : public SocketEventSink {
 public:
  void OnSocketEvent(int socket, int event) override {
    events.push_back({socket, event});
    if (react) {
      react(socket, event);
    }
  }
  int Count(int socket, int event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), Event{socket, event}));
  }
  Events Since(size_t first) const { return Events(events.begin() + first, events.end()); }

  Events events;
  std::function<void(int socket, int event)> react;
};

// Opens the nested loop a modal dialog would, bounded in time.
void RunNested(QEventLoop& nested) {
  QTimer::singleShot(kSafetyMs, &nested, &QEventLoop::quit);
  nested.exec();
}

// Puts `fd` on the descriptor number `number`.
Fd OnNumber(Fd fd, int number) {
  if (fd.get() == number || dup2(fd.get(), number) != number) {
    return fd;
  }
  return Fd(number);
}

class SocketNotificationsTest : public ::testing::Test {
 protected:
  RecordingSink sink;
  SocketNotifications notifications{sink};
};

TEST_F(SocketNotificationsTest, ListenerReportsOneAcceptPerWaitingConnection) {
  const Fd listener = platform_test::Listen();
  const int port = platform_test::PortOf(listener.get());
  std::vector<Fd> accepted;
  sink.react = [&](int socket, int) { accepted.push_back(platform_test::AcceptOne(socket)); };
  ASSERT_TRUE(notifications.SelectSocketEvents(listener.get(), FD_ACCEPT));

  const Fd first = platform_test::ConnectTo(port);
  const Fd second = platform_test::ConnectTo(port);
  ASSERT_TRUE(RunUntil([&] { return accepted.size() == 2; }));
  RunFor(100);

  const int l = listener.get();
  EXPECT_EQ(sink.events, (Events{{l, FD_ACCEPT}, {l, FD_ACCEPT}}));
  EXPECT_GE(accepted[0].get(), 0);
  EXPECT_GE(accepted[1].get(), 0);
}

enum class Ending { kShutdown, kClose, kReset };

struct EndCase {
  const char* name;
  Transport transport;
  bool withData;
  Ending ending;
};

void PrintTo(const EndCase& c, std::ostream* os) {
  *os << c.name;
}

class PeerEndTest : public SocketNotificationsTest,
                    public ::testing::WithParamInterface<EndCase> {};

TEST_P(PeerEndTest, DataComesFirstThenExactlyOneClose) {
  const EndCase& c = GetParam();
  Connection connection = Connect(c.transport);
  const int s = connection.local.get();
  std::string received;
  sink.react = [&](int socket, int event) {
    if (event == FD_READ) {
      received += Drain(socket);
    }
  };
  ASSERT_TRUE(notifications.SelectSocketEvents(s, FD_READ | FD_CLOSE));

  if (c.withData) {
    Send(connection.peer.get(), "hello");
  }
  if (c.ending == Ending::kShutdown) {
    shutdown(connection.peer.get(), SHUT_WR);
  } else if (c.ending == Ending::kClose) {
    connection.peer.Reset();
  } else {
    platform_test::ResetAndClose(connection.peer);
  }
  ASSERT_TRUE(RunUntil([&] { return sink.Count(s, FD_CLOSE) > 0; }));
  RunFor(100);

  EXPECT_EQ(received, c.withData ? "hello" : "");
  EXPECT_EQ(sink.Count(s, FD_CLOSE), 1);
  EXPECT_EQ(sink.events.back(), (Event{s, FD_CLOSE}));
  EXPECT_EQ(notifications.WatchedSockets(), 1);  // selected until its owner deselects it
}

INSTANTIATE_TEST_SUITE_P(
    Endings, PeerEndTest,
    ::testing::Values(EndCase{"TcpShutdown", Transport::kTcp, true, Ending::kShutdown},
                      EndCase{"TcpClose", Transport::kTcp, true, Ending::kClose},
                      EndCase{"TcpReset", Transport::kTcp, false, Ending::kReset},
                      EndCase{"UnixShutdown", Transport::kUnix, true, Ending::kShutdown},
                      EndCase{"UnixClose", Transport::kUnix, true, Ending::kClose}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SocketNotificationsTest, WriteIsReportedOnlyWhileSelected) {
  Connection connection = Connect(Transport::kTcp);
  const int s = connection.local.get();
  ASSERT_TRUE(notifications.SelectSocketEvents(s, FD_READ | FD_CLOSE));
  RunFor(100);
  EXPECT_TRUE(sink.events.empty());

  sink.react = [&](int socket, int event) {
    if (event == FD_WRITE) {  // output sent: stop asking
      notifications.SelectSocketEvents(socket, FD_READ | FD_CLOSE);
    } else if (event == FD_READ) {
      Drain(socket);
    }
  };
  ASSERT_TRUE(notifications.SelectSocketEvents(s, FD_READ | FD_WRITE | FD_CLOSE));
  ASSERT_TRUE(RunUntil([&] { return sink.Count(s, FD_WRITE) > 0; }));
  Send(connection.peer.get(), "x");
  ASSERT_TRUE(RunUntil([&] { return sink.Count(s, FD_READ) > 0; }));
  RunFor(100);

  EXPECT_EQ(sink.events, (Events{{s, FD_WRITE}, {s, FD_READ}}));
}

TEST_F(SocketNotificationsTest, UnselectedDataIsNotReportedAndDoesNotSpin) {
  Connection connection = Connect(Transport::kUnix);
  const int s = connection.local.get();
  ASSERT_TRUE(notifications.SelectSocketEvents(s, FD_CLOSE));
  Send(connection.peer.get(), "unread");
  {
    const WakeupCounter wakeups;
    RunFor(300);
    EXPECT_LT(wakeups.Count(), kQuietWakeups);
  }
  EXPECT_TRUE(sink.events.empty());

  // The end waits behind the data; it is found once the data is gone.
  connection.peer.Reset();
  EXPECT_EQ(Drain(s), "unread");
  ASSERT_TRUE(RunUntil([&] { return !sink.events.empty(); }));
  RunFor(100);
  EXPECT_EQ(sink.events, (Events{{s, FD_CLOSE}}));
}

TEST_F(SocketNotificationsTest, ChangingTheMaskAfterCloseDoesNotRepeatClose) {
  Connection connection = Connect(Transport::kTcp);
  const int s = connection.local.get();
  sink.react = [&](int socket, int event) {
    if (event == FD_CLOSE) {  // the peer is gone; flush what is left first
      notifications.SelectSocketEvents(socket, FD_READ | FD_WRITE | FD_CLOSE);
    } else if (event == FD_WRITE) {
      notifications.SelectSocketEvents(socket, FD_READ | FD_CLOSE);
    }
  };
  ASSERT_TRUE(notifications.SelectSocketEvents(s, FD_READ | FD_CLOSE));
  shutdown(connection.peer.get(), SHUT_WR);
  ASSERT_TRUE(RunUntil([&] { return sink.Count(s, FD_WRITE) > 0; }));
  RunFor(100);

  EXPECT_EQ(sink.events, (Events{{s, FD_CLOSE}, {s, FD_WRITE}}));
}

TEST_F(SocketNotificationsTest, DeselectingInsideTheHandlerStopsDeliveryAtOnce) {
  Connection a = Connect(Transport::kUnix);
  Connection b = Connect(Transport::kUnix);
  sink.react = [&](int, int) {
    for (Connection* c : {&a, &b}) {
      notifications.SelectSocketEvents(c->local.get(), 0);
      c->local.Reset();
    }
  };
  ASSERT_TRUE(notifications.SelectSocketEvents(a.local.get(), FD_READ | FD_CLOSE));
  ASSERT_TRUE(notifications.SelectSocketEvents(b.local.get(), FD_READ | FD_CLOSE));
  // Both readable in the same pass of the loop: the one handled second must not be reported.
  Send(a.peer.get(), "a");
  Send(b.peer.get(), "b");
  ASSERT_TRUE(RunUntil([&] { return !sink.events.empty(); }));
  RunFor(100);

  EXPECT_EQ(sink.events.size(), 1u);
  EXPECT_EQ(notifications.WatchedSockets(), 0);
}

class ReusedNumberTest : public SocketNotificationsTest,
                         public ::testing::WithParamInterface<bool> {};

TEST_P(ReusedNumberTest, NewSocketOnTheSameNumberGetsOnlyItsOwnEvents) {
  const bool deselectFirst = GetParam();
  Connection old = Connect(Transport::kUnix);
  const int number = old.local.get();
  Connection fresh;
  std::string received;
  sink.react = [&](int socket, int event) {
    if (event == FD_READ) {
      received += Drain(socket);
    } else if (event == FD_CLOSE && fresh.peer.get() < 0) {
      if (deselectFirst) {
        notifications.SelectSocketEvents(socket, 0);
      }
      old.local.Reset();
      fresh = Connect(Transport::kUnix);
      fresh.local = OnNumber(std::move(fresh.local), number);
      notifications.SelectSocketEvents(number, FD_READ | FD_CLOSE);
    }
  };
  ASSERT_TRUE(notifications.SelectSocketEvents(number, FD_READ | FD_CLOSE));
  old.peer.Reset();
  ASSERT_TRUE(RunUntil([&] { return fresh.peer.get() >= 0; }));
  ASSERT_EQ(fresh.local.get(), number);

  Send(fresh.peer.get(), "new");
  ASSERT_TRUE(RunUntil([&] { return received == "new"; }));
  RunFor(100);
  EXPECT_EQ(sink.events, (Events{{number, FD_CLOSE}, {number, FD_READ}}));
  EXPECT_EQ(notifications.WatchedSockets(), 1);
}

INSTANTIATE_TEST_SUITE_P(DeselectFirstOrNot, ReusedNumberTest, ::testing::Bool());

TEST_F(SocketNotificationsTest, NestedLoopServesOtherSocketsWithoutSpinningOnUnreadData) {
  Connection a = Connect(Transport::kUnix);
  Connection b = Connect(Transport::kUnix);
  const int sa = a.local.get();
  const int sb = b.local.get();
  QEventLoop nested;
  Events during;
  int nestedWakeups = 0;
  sink.react = [&](int socket, int) {
    if (socket == sb) {
      Drain(sb);
      nested.quit();
    } else if (sink.Count(sa, FD_READ) == 1) {  // a dialog opens before A's data is read
      QTimer::singleShot(150, &nested, [&] { Send(b.peer.get(), "b"); });
      const size_t first = sink.events.size();
      const WakeupCounter wakeups;
      RunNested(nested);
      nestedWakeups = wakeups.Count();
      during = sink.Since(first);
    } else {
      Drain(sa);
    }
  };
  ASSERT_TRUE(notifications.SelectSocketEvents(sa, FD_READ | FD_CLOSE));
  ASSERT_TRUE(notifications.SelectSocketEvents(sb, FD_READ | FD_CLOSE));
  Send(a.peer.get(), "a");
  ASSERT_TRUE(RunUntil([&] { return sink.Count(sa, FD_READ) == 2; }));

  EXPECT_EQ(during, (Events{{sb, FD_READ}}));
  EXPECT_LT(nestedWakeups, kQuietWakeups);
  EXPECT_EQ(sink.events, (Events{{sa, FD_READ}, {sb, FD_READ}, {sa, FD_READ}}));
}

TEST_F(SocketNotificationsTest, NestedLoopDeliversFreshDataAndTheEndOfTheSameSocket) {
  Connection a = Connect(Transport::kTcp);
  const int s = a.local.get();
  QEventLoop nested;
  Events during;
  bool nestedDone = false;
  std::string received;
  sink.react = [&](int socket, int event) {
    if (event == FD_READ) {
      received += Drain(socket);
    }
    if (sink.events.size() == 1) {  // the request was read; a dialog opens
      // Same size as before: the data is fresh all the same.
      QTimer::singleShot(20, &nested, [&] { Send(a.peer.get(), "ping"); });
      RunNested(nested);
      during = sink.Since(1);
      nestedDone = true;
    } else if (event == FD_READ) {
      shutdown(a.peer.get(), SHUT_WR);
    } else if (event == FD_CLOSE) {
      nested.quit();
    }
  };
  ASSERT_TRUE(notifications.SelectSocketEvents(s, FD_READ | FD_CLOSE));
  Send(a.peer.get(), "ping");
  ASSERT_TRUE(RunUntil([&] { return nestedDone; }));

  EXPECT_EQ(during, (Events{{s, FD_READ}, {s, FD_CLOSE}}));
  EXPECT_EQ(received, "pingping");
}

TEST_F(SocketNotificationsTest, WriteHandlerInANestedLoopIsNotReenteredButReadsArrive) {
  Connection a = Connect(Transport::kTcp);
  const int s = a.local.get();
  QEventLoop nested;
  Events during;
  sink.react = [&](int socket, int event) {
    if (event == FD_READ) {
      Drain(socket);
      QTimer::singleShot(100, &nested, &QEventLoop::quit);
    } else if (sink.events.size() == 1) {
      Send(a.peer.get(), "x");
      RunNested(nested);
      during = sink.Since(1);
      notifications.SelectSocketEvents(socket, FD_READ | FD_CLOSE);
    }
  };
  ASSERT_TRUE(notifications.SelectSocketEvents(s, FD_READ | FD_WRITE | FD_CLOSE));
  ASSERT_TRUE(RunUntil([&] { return !during.empty(); }));
  RunFor(50);

  EXPECT_EQ(during, (Events{{s, FD_READ}}));
  EXPECT_EQ(sink.events, (Events{{s, FD_WRITE}, {s, FD_READ}}));
}

TEST_F(SocketNotificationsTest, OnlyOpenSocketsCanBeWatched) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const Fd pipeRead(pipeEnds[0]);
  const Fd pipeWrite(pipeEnds[1]);
  const int closedNumber = Connect(Transport::kUnix).local.get();

  EXPECT_FALSE(notifications.SelectSocketEvents(-1, FD_READ));
  EXPECT_FALSE(notifications.SelectSocketEvents(pipeRead.get(), FD_READ));
  EXPECT_FALSE(notifications.SelectSocketEvents(closedNumber, FD_READ));
  EXPECT_EQ(notifications.WatchedSockets(), 0);

  const Connection c = Connect(Transport::kUnix);
  EXPECT_TRUE(notifications.SelectSocketEvents(c.local.get(), FD_READ));
  EXPECT_TRUE(notifications.SelectSocketEvents(c.local.get(), FD_READ | FD_CLOSE));
  EXPECT_EQ(notifications.WatchedSockets(), 1);
  EXPECT_TRUE(notifications.SelectSocketEvents(c.local.get(), 0));
  EXPECT_EQ(notifications.WatchedSockets(), 0);
}

}  // namespace
}  // namespace platform
