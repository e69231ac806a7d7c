// The built program as a user runs it (Qt offscreen), checked with curl.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_home.h"
#include "support/tls_client.h"

extern char** environ;

namespace {

std::string AgentPath() {
  const char* binary = std::getenv("OSTRABEL_BINARY_DIR");
  return std::string(binary ? binary : ".") + "/agent/shell/DorvikaOstrabel";
}

// A listening socket on 127.0.0.1:port, or -1 when the port is in use.
int Occupy(int port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 1) != 0) {
    close(s);
    return -1;
  }
  return s;
}

class Agent {
 public:
  Agent() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string path = AgentPath();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0) {
      pid_ = -1;
    }
  }
  ~Agent() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  // The exit status once the process ended within `ms`, nothing while it still runs.
  std::optional<int> WaitExit(int ms) {
    for (int waited = 0; waited <= ms; waited += 20) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
};

std::string Curl(int port) {
  const std::string command =
      "curl -s --max-time 5 --cacert '" + testing_support::DevelopmentCaPath() +
      "' -X OPTIONS https://127.0.0.1:" + std::to_string(port) + "/ 2>/dev/null";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
      output.append(chunk, n);
    }
    pclose(pipe);
  }
  return output;
}

// Curl until the agent answers (it needs a moment to start).
std::string CurlWhenUp(int port) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string answer = Curl(port);
    if (!answer.empty()) {
      return answer;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return {};
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (system("command -v curl >/dev/null") != 0) {
      GTEST_SKIP() << "curl is not installed";
    }
    for (int port : {64001, 64002, 64003}) {
      const int probe = Occupy(port);
      if (probe < 0) {
        GTEST_SKIP() << "port " << port << " is in use on this machine";
      }
      close(probe);
    }
  }
  testing_support::TempHome home;
};

}  // namespace

TEST_F(ProgramTest, answersThePreflightOnTheFirstPort) {
  Agent agent;
  EXPECT_EQ(CurlWhenUp(64001), "||-1||OKK||");
}

TEST_F(ProgramTest, servesOnTheNextPortWhenTheFirstIsTaken) {
  const int taken = Occupy(64001);
  Agent agent;
  EXPECT_EQ(CurlWhenUp(64002), "||-1||OKK||");
  close(taken);
}

TEST_F(ProgramTest, endsWhenAllThreePortsAreTaken) {
  const int taken[] = {Occupy(64001), Occupy(64002), Occupy(64003)};
  Agent agent;
  const auto status = agent.WaitExit(10000);
  ASSERT_TRUE(status.has_value()) << "the agent kept running";
  EXPECT_NE(*status, 0);
  for (int s : taken) {
    close(s);
  }
}

TEST_F(ProgramTest, aSecondStartEndsAtOnceAndTheFirstKeepsServing) {
  Agent first;
  ASSERT_EQ(CurlWhenUp(64001), "||-1||OKK||");
  Agent second;
  const auto status = second.WaitExit(5000);
  ASSERT_TRUE(status.has_value()) << "the second instance kept running";
  EXPECT_EQ(*status, 0);
  EXPECT_EQ(Curl(64001), "||-1||OKK||");
}
