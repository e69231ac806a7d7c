// Module cycles over one kept-alive HTTPS connection: InitDLL, one method call, finalize, again
// and again. Each answer is read to its Content-Length; the token of the InitDLL answer is used
// by the two requests after it, and the method and finalize answers are checked.
//
//   initdll_cycle --port P --cacert FILE [--module DorVIKA] [--method GetCardStatus]
//                 [--method-answer '||0||-5||'] [--seconds S] [--max-cycles N]
//
// With --mode sign: InitDLL once (the login module, Quillomat by default), then sign calls on its
// token until the time is up, each with Param1=PIN and Param2 a new random 32-digit hex
// challenge; every answer must start with "||0||0,". Then one finalize.
//
//   initdll_cycle --mode sign --port P --cacert FILE [--module Quillomat] [--pin 1234]
//                 [--seconds S] [--max-cycles N]
//
// The last line printed is key=value pairs for scripts; anything unexpected goes to stderr.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string host = "127.0.0.1";
  int port = 64001;
  std::string cacert;
  std::string module = "DorVIKA";
  std::string method = "GetCardStatus";
  std::string methodAnswer = "||0||-5||";
  double seconds = 10;
  long maxCycles = 0;  // 0: no limit but the time
  bool sign = false;   // --mode sign
  std::string pin = "1234";
  bool moduleGiven = false;
};

[[noreturn]] void Usage(const char* problem) {
  std::fprintf(stderr,
               "initdll_cycle: %s\n"
               "usage: initdll_cycle [--host A] [--port P] [--cacert FILE] [--module NAME]\n"
               "         [--method NAME] [--method-answer BODY] [--seconds S] [--max-cycles N]\n"
               "         [--mode cycle|sign] [--pin PIN]\n",
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
    } else if (name == "--cacert") {
      options.cacert = value;
    } else if (name == "--module") {
      options.module = value;
      options.moduleGiven = true;
    } else if (name == "--mode") {
      const std::string_view mode = value;
      if (mode != "cycle" && mode != "sign") {
        Usage("--mode is cycle or sign");
      }
      options.sign = mode == "sign";
    } else if (name == "--pin") {
      options.pin = value;
    } else if (name == "--method") {
      options.method = value;
    } else if (name == "--method-answer") {
      options.methodAnswer = value;
    } else if (name == "--seconds") {
      options.seconds = std::atof(value);
    } else if (name == "--max-cycles") {
      options.maxCycles = std::atol(value);
    } else {
      Usage("unknown option");
    }
  }
  if (options.port <= 0 || options.port > 65535 || options.seconds <= 0 || options.seconds > 3600) {
    Usage("port 1-65535, seconds up to 3600");
  }
  if (options.sign && !options.moduleGiven) {
    options.module = "Quillomat";
  }
  return options;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "initdll_cycle: %s\n", what.c_str());
  ERR_print_errors_fp(stderr);
  std::exit(1);
}

class Session {
 public:
  explicit Session(const Options& options) : options_(options) {
    context_ = SSL_CTX_new(TLS_client_method());
    if (!options.cacert.empty()) {
      if (SSL_CTX_load_verify_locations(context_, options.cacert.c_str(), nullptr) != 1) {
        Fail("cannot load " + options.cacert);
      }
      SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
      X509_VERIFY_PARAM_set1_ip_asc(SSL_CTX_get0_param(context_), options.host.c_str());
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options.port));
    if (inet_pton(AF_INET, options.host.c_str(), &address.sin_addr) != 1) {
      Usage("--host must be an IPv4 address");
    }
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      Fail("cannot connect");
    }
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ssl_ = SSL_new(context_);
    SSL_set_fd(ssl_, fd_);
    if (SSL_connect(ssl_) != 1) {
      Fail("TLS handshake failed");
    }
  }

  ~Session() {
    SSL_shutdown(ssl_);
    SSL_free(ssl_);
    close(fd_);
    SSL_CTX_free(context_);
  }

  // Sends GET /?QUERY and returns the body of the answer; fails on anything but status 200.
  std::string Get(const std::string& query) {
    const std::string request =
        "GET /?" + query + " HTTP/1.1\r\nHost: " + options_.host + "\r\n\r\n";
    if (SSL_write(ssl_, request.data(), static_cast<int>(request.size())) <= 0) {
      Fail("write failed on " + query);
    }
    size_t headerEnd;
    while ((headerEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
      ReadMore(query);
    }
    const std::string_view head(buffer_.data(), headerEnd);
    if (head.find(" 200 ") == std::string_view::npos) {
      Fail("not a 200 answer to " + query + ": " + std::string(head));
    }
    size_t length = 0;
    bool found = false;
    for (size_t at = 0; at < head.size();) {
      const size_t end = std::min(head.find("\r\n", at), head.size());
      const std::string_view line = head.substr(at, end - at);
      if (line.size() > 15 && strncasecmp(line.data(), "content-length:", 15) == 0) {
        length = std::strtoul(std::string(line.substr(15)).c_str(), nullptr, 10);
        found = true;
      }
      at = end + 2;
    }
    if (!found) {
      Fail("answer without Content-Length to " + query);
    }
    const size_t total = headerEnd + 4 + length;
    while (buffer_.size() < total) {
      ReadMore(query);
    }
    std::string body = buffer_.substr(headerEnd + 4, length);
    buffer_.erase(0, total);
    return body;
  }

 private:
  void ReadMore(const std::string& query) {
    char chunk[16384];
    const int count = SSL_read(ssl_, chunk, sizeof chunk);
    if (count <= 0) {
      Fail("connection ended while waiting for the answer to " + query);
    }
    buffer_.append(chunk, static_cast<size_t>(count));
  }

  const Options& options_;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  int fd_ = -1;
  std::string buffer_;
};

// The token of "||0||<token>||"; empty when the answer is anything else.
std::string TokenOf(std::string_view body) {
  constexpr std::string_view kHead = "||0||";
  if (body.size() <= kHead.size() + 2 || body.substr(0, kHead.size()) != kHead ||
      body.substr(body.size() - 2) != "||") {
    return {};
  }
  const std::string_view token = body.substr(kHead.size(), body.size() - kHead.size() - 2);
  return token.find('|') == std::string_view::npos ? std::string(token) : std::string();
}

double Percentile(std::vector<double>& values, double share) {
  if (values.empty()) {
    return 0;
  }
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
  std::nth_element(values.begin(), values.begin() + static_cast<long>(at), values.end());
  return values[at];
}

double Mean(const std::vector<double>& values) {
  double sum = 0;
  for (const double v : values) {
    sum += v;
  }
  return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

// 32 hex digits, new for every call, so that no two signatures are over the same data.
std::string Challenge(std::mt19937_64& random) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(32, '0');
  uint64_t bits = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i % 16 == 0) {
      bits = random();
    }
    text[i] = kDigits[bits & 0xf];
    bits >>= 4;
  }
  return text;
}

// One InitDLL, sign calls until the deadline, one finalize.
int SignMode(const Options& options, Session& session) {
  const auto ms = [](Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
  };
  const Clock::time_point initStart = Clock::now();
  const std::string initAnswer = session.Get("InitDLL=" + options.module);
  const std::string token = TokenOf(initAnswer);
  if (token.empty()) {
    Fail("InitDLL answered " + initAnswer);
  }
  const double initMs = ms(initStart, Clock::now());
  std::mt19937_64 random(std::random_device{}());
  std::vector<double> signMs;
  const std::string prefix =
      "ExecMethod=sign&DLLToken=" + token + "&Param1=" + options.pin + "&Param2=";
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline =
      start + std::chrono::microseconds(static_cast<int64_t>(options.seconds * 1e6));
  long signs = 0;
  while (Clock::now() < deadline && (options.maxCycles == 0 || signs < options.maxCycles)) {
    const std::string query = prefix + Challenge(random);
    const Clock::time_point t0 = Clock::now();
    const std::string answer = session.Get(query);
    const Clock::time_point t1 = Clock::now();
    if (answer.rfind("||0||0,", 0) != 0) {
      Fail("sign answered " + answer);
    }
    signMs.push_back(ms(t0, t1));
    ++signs;
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const std::string finalAnswer = session.Get("ExecMethod=finalize&DLLToken=" + token);
  if (finalAnswer != "||0||Finalized||") {
    std::fprintf(stderr, "initdll_cycle: finalize answered %s\n", finalAnswer.c_str());
  }
  std::printf(
      "signs=%ld seconds=%.3f signs_per_s=%.2f ms_per_sign=%.3f init_ms=%.3f p50_ms=%.3f "
      "p99_ms=%.3f\n",
      signs, elapsed, signs / elapsed, 1000 * elapsed / std::max(signs, 1L), initMs,
      Percentile(signMs, 0.5), Percentile(signMs, 0.99));
  return signs > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  Session session(options);
  if (options.sign) {
    return SignMode(options, session);
  }
  // Each step's time, in milliseconds, so that the script can say where a cycle goes.
  std::vector<double> initMs, methodMs, finalizeMs, cycleMs;
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline =
      start + std::chrono::microseconds(static_cast<int64_t>(options.seconds * 1e6));
  const auto ms = [](Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
  };
  long cycles = 0;
  while (Clock::now() < deadline && (options.maxCycles == 0 || cycles < options.maxCycles)) {
    const Clock::time_point t0 = Clock::now();
    const std::string initAnswer = session.Get("InitDLL=" + options.module);
    const std::string token = TokenOf(initAnswer);
    if (token.empty()) {
      Fail("InitDLL answered " + initAnswer);
    }
    const Clock::time_point t1 = Clock::now();
    const std::string methodAnswer =
        session.Get("ExecMethod=" + options.method + "&DLLToken=" + token);
    if (methodAnswer != options.methodAnswer) {
      Fail(options.method + " answered " + methodAnswer);
    }
    const Clock::time_point t2 = Clock::now();
    const std::string finalAnswer = session.Get("ExecMethod=finalize&DLLToken=" + token);
    if (finalAnswer != "||0||Finalized||") {
      Fail("finalize answered " + finalAnswer);
    }
    const Clock::time_point t3 = Clock::now();
    initMs.push_back(ms(t0, t1));
    methodMs.push_back(ms(t1, t2));
    finalizeMs.push_back(ms(t2, t3));
    cycleMs.push_back(ms(t0, t3));
    ++cycles;
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const auto mean = Mean;
  std::printf(
      "cycles=%ld seconds=%.3f cycles_per_s=%.2f ms_per_cycle=%.3f init_ms=%.3f method_ms=%.3f "
      "finalize_ms=%.3f p50_ms=%.3f p99_ms=%.3f\n",
      cycles, elapsed, cycles / elapsed, 1000 * elapsed / std::max(cycles, 1L), mean(initMs),
      mean(methodMs), mean(finalizeMs), Percentile(cycleMs, 0.5), Percentile(cycleMs, 0.99));
  return cycles > 0 ? 0 : 1;
}
