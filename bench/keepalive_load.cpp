// A closed-loop HTTPS load client: N connections, one request in flight on each. Every answer is
// read to its Content-Length and compared with the expected bytes before the next request goes
// out on that connection.
//
// --mode keepalive keeps each connection for as long as the server does, whatever HTTP version it
// answers with (wrk closes after an HTTP/1.0 answer without "Connection: keep-alive", so against
// the agent it would measure handshakes). --mode reconnect opens a new connection, with a full
// handshake, for every request and closes it once the answer is in.
//
// The last line printed is key=value pairs for scripts; anything unexpected goes to stderr.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Mode { kKeepAlive, kReconnect };

struct Options {
  std::string host = "127.0.0.1";
  int port = 64001;
  int connections = 10;
  double seconds = 10;
  long maxAnswers = 0;  // 0: no limit but the time
  Mode mode = Mode::kKeepAlive;
  bool resume = false;  // reconnect mode: offer the previous connection's session
  std::string method = "OPTIONS";
  std::string path = "/";
  std::vector<std::string> headers;
  std::string cacert;                       // empty: the server's certificate is not checked
  std::string expectFile;                   // empty: the first answer is the reference
  std::vector<std::string> ignoredHeaders;  // their values may differ from the reference's
  std::string dumpFile;                     // where the first answer is written
};

[[noreturn]] void Usage(const char* problem) {
  std::fprintf(stderr,
               "keepalive_load: %s\n"
               "usage: keepalive_load [--host A] [--port P] [--connections N] [--seconds S]\n"
               "         [--max-answers N] [--mode keepalive|reconnect] [--resume yes|no]\n"
               "         [--method M] [--path P]\n"
               "         [--header 'Name: value']... [--cacert FILE] [--expect FILE]\n"
               "         [--ignore-header NAME]... [--dump FILE]\n",
               problem);
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (i + 1 >= argc) {
      Usage("every option takes a value");
    }
    const char* value = argv[++i];
    if (name == "--host") {
      options.host = value;
    } else if (name == "--port") {
      options.port = std::atoi(value);
    } else if (name == "--connections") {
      options.connections = std::atoi(value);
    } else if (name == "--seconds") {
      options.seconds = std::atof(value);
    } else if (name == "--max-answers") {
      options.maxAnswers = std::atol(value);
    } else if (name == "--mode") {
      if (std::string_view(value) == "keepalive") {
        options.mode = Mode::kKeepAlive;
      } else if (std::string_view(value) == "reconnect") {
        options.mode = Mode::kReconnect;
      } else {
        Usage("--mode is keepalive or reconnect");
      }
    } else if (name == "--resume") {
      options.resume = std::string_view(value) == "yes";
    } else if (name == "--method") {
      options.method = value;
    } else if (name == "--path") {
      options.path = value;
    } else if (name == "--header") {
      options.headers.emplace_back(value);
    } else if (name == "--cacert") {
      options.cacert = value;
    } else if (name == "--expect") {
      options.expectFile = value;
    } else if (name == "--ignore-header") {
      options.ignoredHeaders.emplace_back(value);
    } else if (name == "--dump") {
      options.dumpFile = value;
    } else {
      Usage("unknown option");
    }
  }
  if (options.port <= 0 || options.port > 65535 || options.connections <= 0 ||
      options.connections > 10000 || options.seconds <= 0 || options.seconds > 3600) {
    Usage("port 1-65535, connections 1-10000, seconds up to 3600");
  }
  return options;
}

std::string ReadWholeFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "keepalive_load: cannot read %s\n", name.c_str());
    std::exit(2);
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Total size of the answer (header block and body) once its header block is in; nullopt while
// it is not. Sets `problem` when the header block has no usable Content-Length.
std::optional<size_t> AnswerSize(std::string_view answer, const char*& problem) {
  const size_t headerEnd = answer.find("\r\n\r\n");
  if (headerEnd == std::string_view::npos) {
    return std::nullopt;
  }
  constexpr std::string_view kName = "content-length:";
  size_t lineStart = answer.find("\r\n") + 2;
  while (lineStart < headerEnd + 2) {
    const size_t lineEnd = answer.find("\r\n", lineStart);
    const std::string_view line = answer.substr(lineStart, lineEnd - lineStart);
    if (line.size() > kName.size() && SameLetters(line.substr(0, kName.size()), kName)) {
      size_t length = 0;
      bool digits = false;
      for (const char c : line.substr(kName.size())) {
        if (c >= '0' && c <= '9') {
          length = length * 10 + static_cast<size_t>(c - '0');
          digits = true;
          if (length > (1u << 30)) {
            break;
          }
        } else if (c != ' ' && c != '\t') {
          digits = false;
          break;
        }
      }
      if (!digits || length > (1u << 30)) {
        problem = "unusable Content-Length";
        return std::nullopt;
      }
      return headerEnd + 4 + length;
    }
    lineStart = lineEnd + 2;
  }
  problem = "answer without Content-Length";
  return std::nullopt;
}

std::vector<std::string_view> HeaderLines(std::string_view answer) {
  std::vector<std::string_view> lines;
  const size_t headerEnd = answer.find("\r\n\r\n");
  size_t start = 0;
  while (start < headerEnd) {
    const size_t end = answer.find("\r\n", start);
    lines.push_back(answer.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Compares an answer with the reference: byte for byte, except the values of ignored headers
// (each must still be there, in its place).
class AnswerCheck {
 public:
  AnswerCheck(std::string reference, std::vector<std::string> ignored)
      : reference_(std::move(reference)), ignored_(std::move(ignored)) {}

  bool HasReference() const { return !reference_.empty(); }
  void SetReference(std::string reference) { reference_ = std::move(reference); }
  const std::string& Reference() const { return reference_; }

  bool Matches(std::string_view answer) const {
    if (answer == reference_) {
      return true;
    }
    if (ignored_.empty()) {
      return false;
    }
    const size_t answerBody = answer.find("\r\n\r\n");
    const size_t referenceBody = reference_.find("\r\n\r\n");
    if (answerBody == std::string_view::npos || referenceBody == std::string::npos ||
        answer.substr(answerBody) != std::string_view(reference_).substr(referenceBody)) {
      return false;
    }
    const auto got = HeaderLines(answer);
    const auto want = HeaderLines(reference_);
    if (got.size() != want.size()) {
      return false;
    }
    for (size_t i = 0; i < got.size(); ++i) {
      if (got[i] != want[i] && !BothIgnored(got[i], want[i])) {
        return false;
      }
    }
    return true;
  }

 private:
  bool BothIgnored(std::string_view got, std::string_view want) const {
    const size_t colon = want.find(':');
    if (colon == std::string_view::npos || got.size() <= colon || got[colon] != ':' ||
        !SameLetters(got.substr(0, colon), want.substr(0, colon))) {
      return false;
    }
    return std::any_of(ignored_.begin(), ignored_.end(), [&](const std::string& name) {
      return SameLetters(name, want.substr(0, colon));
    });
  }

  std::string reference_;
  std::vector<std::string> ignored_;
};

std::string Printable(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n\n";
    } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

enum class Stage { kConnecting, kHandshake, kSending, kReceiving };

struct Connection {
  int fd = -1;
  SSL* ssl = nullptr;
  SSL_SESSION* session = nullptr;  // offered by the next connection, with --resume yes
  uint32_t generation = 0;         // tells a late event of a closed socket from the current one
  uint32_t interest = 0;           // the epoll events asked for now
  Stage stage = Stage::kConnecting;
  bool requestTimed = false;
  Clock::time_point started;
  std::string answer;
};

struct Totals {
  long answers = 0;
  long connectionsOpened = 0;
  long serverCloses = 0;  // closed by the server with a request unanswered (also an error)
  long errors = 0;
  long mismatches = 0;
  long resumed = 0;  // handshakes that resumed an earlier session
  std::vector<uint32_t> latencyMicros;
  std::string protocol = "-";
  std::string cipher = "-";
  std::string group = "-";
};

class LoadClient {
 public:
  LoadClient(const Options& options, AnswerCheck& check)
      : options_(options), check_(check), connections_(options.connections) {
    request_ = options.method + " " + options.path + " HTTP/1.1\r\nHost: " + options.host + ":" +
               std::to_string(options.port) + "\r\n";
    for (const std::string& header : options.headers) {
      request_ += header + "\r\n";
    }
    request_ += "\r\n";
    address_.sin_family = AF_INET;
    address_.sin_port = htons(static_cast<uint16_t>(options.port));
    if (inet_pton(AF_INET, options.host.c_str(), &address_.sin_addr) != 1) {
      Usage("--host must be an IPv4 address");
    }
    context_ = SSL_CTX_new(TLS_client_method());
    // A session is offered only where --resume yes hands one on; otherwise handshakes are full.
    SSL_CTX_set_session_cache_mode(context_, SSL_SESS_CACHE_OFF);
    if (!options.cacert.empty()) {
      if (SSL_CTX_load_verify_locations(context_, options.cacert.c_str(), nullptr) != 1) {
        std::fprintf(stderr, "keepalive_load: cannot load %s\n", options.cacert.c_str());
        std::exit(2);
      }
      SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
      X509_VERIFY_PARAM_set1_ip_asc(SSL_CTX_get0_param(context_), options.host.c_str());
    }
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    totals_.latencyMicros.reserve(1 << 20);
  }

  ~LoadClient() {
    for (Connection& connection : connections_) {
      Drop(connection, false);
      SSL_SESSION_free(connection.session);
    }
    close(epoll_);
    SSL_CTX_free(context_);
  }

  Totals& Run(double& elapsedSeconds) {
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline =
        start + std::chrono::microseconds(static_cast<int64_t>(options_.seconds * 1e6));
    for (size_t i = 0; i < connections_.size(); ++i) {
      Open(i);
    }
    std::vector<epoll_event> events(connections_.size());
    while (!Finished()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        break;
      }
      const int count = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()),
                                   static_cast<int>(std::min<int64_t>(left, 100)));
      if (count < 0 && errno != EINTR) {
        std::perror("epoll_wait");
        break;
      }
      for (int e = 0; e < count && !Finished(); ++e) {
        const size_t index = events[e].data.u64 & 0xFFFF;
        const auto generation = static_cast<uint32_t>(events[e].data.u64 >> 16);
        if (index < connections_.size() && connections_[index].generation == generation) {
          Drive(index);
        }
      }
    }
    elapsedSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (options_.maxAnswers == 0) {
      elapsedSeconds = std::min(elapsedSeconds, options_.seconds);
    }
    return totals_;
  }

 private:
  bool Finished() const {
    // A server that refuses everything is not hammered for the whole run.
    return (options_.maxAnswers > 0 && totals_.answers >= options_.maxAnswers) ||
           (totals_.errors > 10000 && totals_.answers == 0);
  }

  void Watch(size_t index, uint32_t interest) {
    Connection& connection = connections_[index];
    if (interest == connection.interest) {
      return;
    }
    epoll_event event{};
    event.events = interest;
    event.data.u64 = (static_cast<uint64_t>(connection.generation) << 16) | index;
    epoll_ctl(epoll_, connection.interest == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, connection.fd,
              &event);
    connection.interest = interest;
  }

  void Drop(Connection& connection, bool closeNotify) {
    if (connection.ssl != nullptr) {
      if (closeNotify) {
        SSL_shutdown(connection.ssl);  // our closure alert; the server's is not waited for
      }
      SSL_free(connection.ssl);
      connection.ssl = nullptr;
    }
    if (connection.fd >= 0) {
      close(connection.fd);
      connection.fd = -1;
    }
    connection.interest = 0;
    ++connection.generation;  // whatever the closed socket still reports is ignored
  }

  void Fail(size_t index, const char* what) {
    ++totals_.errors;
    if (totals_.errors <= 5) {
      unsigned long code = ERR_peek_last_error();
      char detail[256] = "";
      if (code != 0) {
        ERR_error_string_n(code, detail, sizeof detail);
      }
      std::fprintf(stderr, "keepalive_load: %s (errno %d %s) %s\n", what, errno,
                   std::strerror(errno), detail);
    }
    ERR_clear_error();
    Drop(connections_[index], false);
    Open(index);
  }

  void Open(size_t index) {
    Connection& connection = connections_[index];
    ++connection.generation;
    connection.answer.clear();
    connection.requestTimed = false;
    connection.started = Clock::now();
    connection.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (connection.fd < 0) {
      std::perror("socket");
      std::exit(1);
    }
    const int one = 1;
    setsockopt(connection.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++totals_.connectionsOpened;
    connection.ssl = SSL_new(context_);
    SSL_set_fd(connection.ssl, connection.fd);
    if (connection.session != nullptr) {
      SSL_set_session(connection.ssl, connection.session);
    }
    SSL_set_connect_state(connection.ssl);
    // Whether the connect is done, in progress or failed, the socket's writable event goes on
    // from here: a failure then counts once, and nothing recurses into Drive.
    connect(connection.fd, reinterpret_cast<const sockaddr*>(&address_), sizeof address_);
    connection.stage = Stage::kConnecting;
    Watch(index, EPOLLOUT);
  }

  // Waits for what TLS asked for; false when the connection failed and was replaced.
  bool WaitFor(size_t index, int result, const char* what) {
    const int error = SSL_get_error(connections_[index].ssl, result);
    if (error == SSL_ERROR_WANT_READ) {
      Watch(index, EPOLLIN);
      return true;
    }
    if (error == SSL_ERROR_WANT_WRITE) {
      Watch(index, EPOLLOUT);
      return true;
    }
    Fail(index, what);
    return false;
  }

  void NoteSession(const SSL* ssl) {
    if (totals_.cipher != "-") {
      return;
    }
    totals_.protocol = SSL_get_version(ssl);
    totals_.cipher = SSL_CIPHER_get_name(SSL_get_current_cipher(ssl));
    const int group = SSL_get_negotiated_group(const_cast<SSL*>(ssl));
    if (group != 0) {
      const char* name = OBJ_nid2sn(group & ~TLSEXT_nid_unknown);
      totals_.group = name != nullptr ? name : std::to_string(group);
    }
  }

  void Drive(size_t index) {
    for (;;) {
      Connection& connection = connections_[index];
      switch (connection.stage) {
        case Stage::kConnecting: {
          int error = 0;
          socklen_t length = sizeof error;
          if (connection.fd < 0 ||
              getsockopt(connection.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            errno = error;
            Fail(index, "connect");
            return;
          }
          connection.stage = Stage::kHandshake;
          break;
        }
        case Stage::kHandshake: {
          ERR_clear_error();
          const int result = SSL_do_handshake(connection.ssl);
          if (result != 1) {
            WaitFor(index, result, "TLS handshake");
            return;
          }
          NoteSession(connection.ssl);
          if (SSL_session_reused(connection.ssl) != 0) {
            ++totals_.resumed;
          }
          connection.stage = Stage::kSending;
          break;
        }
        case Stage::kSending: {
          if (!connection.requestTimed && options_.mode == Mode::kKeepAlive) {
            connection.started = Clock::now();  // reconnect mode counts from the connect
          }
          connection.requestTimed = true;
          ERR_clear_error();
          const int result =
              SSL_write(connection.ssl, request_.data(), static_cast<int>(request_.size()));
          if (result <= 0) {
            WaitFor(index, result, "TLS write");
            return;
          }
          connection.stage = Stage::kReceiving;
          Watch(index, EPOLLIN);
          break;
        }
        case Stage::kReceiving:
          if (!Receive(index)) {
            return;
          }
          break;
      }
    }
  }

  // Reads what there is; true when Drive should go on with the connection's next stage.
  bool Receive(size_t index) {
    Connection& connection = connections_[index];
    char chunk[16384];
    ERR_clear_error();
    const int count = SSL_read(connection.ssl, chunk, sizeof chunk);
    if (count <= 0) {
      const int error = SSL_get_error(connection.ssl, count);
      const bool peerEnded =
          error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) ||
          (error == SSL_ERROR_SSL && connection.answer.empty() &&
           ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING);
      if (peerEnded) {
        // The request has gone out, so the server dropped it (or cut its answer short).
        ++totals_.serverCloses;
        Fail(index, connection.answer.empty() ? "connection ended before the answer"
                                              : "connection ended inside an answer");
        return false;
      }
      WaitFor(index, count, "TLS read");
      return false;
    }
    connection.answer.append(chunk, static_cast<size_t>(count));
    const char* problem = nullptr;
    const std::optional<size_t> size = AnswerSize(connection.answer, problem);
    if (problem != nullptr) {
      NoteMismatch(connection.answer, problem);
      Fail(index, problem);
      return false;
    }
    if (!size || connection.answer.size() < *size) {
      return true;  // more to read
    }
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - connection.started)
            .count();
    if (!check_.HasReference()) {
      check_.SetReference(connection.answer.substr(0, *size));
      if (!options_.dumpFile.empty()) {
        std::ofstream(options_.dumpFile, std::ios::binary) << check_.Reference();
      }
    }
    if (connection.answer.size() > *size) {
      NoteMismatch(connection.answer, "bytes after the answer");
      Fail(index, "bytes after the answer");
      return false;
    }
    if (!check_.Matches(connection.answer)) {
      NoteMismatch(connection.answer, "answer differs from the expected one");
      ++totals_.mismatches;
    }
    ++totals_.answers;
    totals_.latencyMicros.push_back(static_cast<uint32_t>(std::min<int64_t>(micros, UINT32_MAX)));
    connection.answer.clear();
    connection.requestTimed = false;
    if (Finished()) {
      Drop(connection, true);  // no further request, nor a new connection only to be closed
      return false;
    }
    if (options_.mode == Mode::kReconnect) {
      if (options_.resume) {
        // By now the server's session tickets (TLS 1.3 sends them after the handshake) are in.
        SSL_SESSION_free(connection.session);
        connection.session = SSL_get1_session(connection.ssl);
      }
      Drop(connection, true);
      Open(index);
      return false;
    }
    connection.stage = Stage::kSending;
    return true;
  }

  void NoteMismatch(std::string_view answer, const char* what) {
    if (++shownMismatches_ > 3) {
      return;
    }
    std::fprintf(stderr, "keepalive_load: %s:\n--- got\n%s\n--- expected\n%s\n---\n", what,
                 Printable(answer).c_str(), Printable(check_.Reference()).c_str());
  }

  const Options& options_;
  AnswerCheck& check_;
  std::vector<Connection> connections_;
  std::string request_;
  sockaddr_in address_{};
  SSL_CTX* context_ = nullptr;
  int epoll_ = -1;
  int shownMismatches_ = 0;
  Totals totals_;
};

double Percentile(const std::vector<uint32_t>& sorted, double share) {
  if (sorted.empty()) {
    return 0;
  }
  // Nearest rank: the smallest sample that at least `share` of all samples do not exceed.
  const auto rank = static_cast<size_t>(std::ceil(share * static_cast<double>(sorted.size())));
  return sorted[std::min(sorted.size() - 1, rank == 0 ? 0 : rank - 1)] / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // a closure alert to a server that has gone must not end us
  const Options options = ParseOptions(argc, argv);
  AnswerCheck check(options.expectFile.empty() ? std::string() : ReadWholeFile(options.expectFile),
                    options.ignoredHeaders);
  if (!options.expectFile.empty() && !check.HasReference()) {
    Usage("the --expect file is empty");
  }
  double seconds = 0;
  LoadClient client(options, check);
  Totals& totals = client.Run(seconds);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double cpuSeconds =
      static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::sort(totals.latencyMicros.begin(), totals.latencyMicros.end());
  const auto& latency = totals.latencyMicros;
  std::printf(
      "mode=%s connections=%d seconds=%.2f answers=%ld rps=%.1f p50_ms=%.3f p90_ms=%.3f "
      "p99_ms=%.3f max_ms=%.3f opened=%ld server_closes=%ld errors=%ld mismatches=%ld "
      "resumed=%ld client_cpu_s=%.2f protocol=%s cipher=%s group=%s\n",
      options.mode == Mode::kKeepAlive ? "keepalive" : "reconnect", options.connections, seconds,
      totals.answers, seconds > 0 ? static_cast<double>(totals.answers) / seconds : 0.0,
      Percentile(latency, 0.50), Percentile(latency, 0.90), Percentile(latency, 0.99),
      latency.empty() ? 0.0 : latency.back() / 1000.0, totals.connectionsOpened,
      totals.serverCloses, totals.errors, totals.mismatches, totals.resumed, cpuSeconds,
      totals.protocol.c_str(), totals.cipher.c_str(), totals.group.c_str());
  return totals.errors == 0 && totals.mismatches == 0 && totals.answers > 0 ? 0 : 1;
}
