#include "tls_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <cstdlib>

namespace testing_support {

namespace {

size_t AnswerLength(const std::string& bytes) {
  const size_t headerEnd = bytes.find("\r\n\r\n");
  if (headerEnd == std::string::npos) {
    return 0;
  }
  const size_t field = bytes.find("Content-Length: ");
  if (field == std::string::npos || field > headerEnd) {
    return 0;
  }
  return headerEnd + 4 + std::strtoul(bytes.c_str() + field + 16, nullptr, 10);
}

}  // namespace

std::string DevelopmentCaPath() {
  const char* source = std::getenv("OSTRABEL_SOURCE_DIR");
  return std::string(source ? source : ".") + "/agent/resources/dev/QORV.crt";
}

std::string BodyOf(const std::string& response) {
  const size_t headerEnd = response.find("\r\n\r\n");
  return headerEnd == std::string::npos ? std::string() : response.substr(headerEnd + 4);
}

TlsClient::~TlsClient() {
  Close();
  SSL_CTX_free(context_);
}

bool TlsClient::ConnectTcp(int port) {
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  return socket_ >= 0 &&
         ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool TlsClient::Connect(int port) {
  if (!ConnectTcp(port)) {
    return false;
  }
  context_ = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
  if (SSL_CTX_load_verify_locations(context_, DevelopmentCaPath().c_str(), nullptr) != 1) {
    return false;
  }
  ssl_ = SSL_new(context_);
  X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), "127.0.0.1");
  SSL_set_fd(ssl_, socket_);
  return SSL_connect(ssl_) == 1;
}

bool TlsClient::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = SSL_write(ssl_, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
    if (n <= 0) {
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool TlsClient::WaitReadable(int timeoutMs) {
  if (SSL_pending(ssl_) > 0) {
    return true;
  }
  pollfd entry{socket_, POLLIN, 0};
  return poll(&entry, 1, timeoutMs) > 0;
}

std::string TlsClient::ReadResponse(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char chunk[16384];
  for (;;) {
    const size_t length = AnswerLength(pending_);
    if (length != 0 && pending_.size() >= length) {
      std::string answer = pending_.substr(0, length);
      pending_.erase(0, length);
      return answer;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !WaitReadable(static_cast<int>(left.count()))) {
      return {};
    }
    const int n = SSL_read(ssl_, chunk, sizeof chunk);
    if (n <= 0) {
      const int error = SSL_get_error(ssl_, n);
      if (error != SSL_ERROR_WANT_READ) {
        return {};
      }
      continue;
    }
    pending_.append(chunk, static_cast<size_t>(n));
  }
}

std::string TlsClient::ReadUntilClosed(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string all = std::move(pending_);
  pending_.clear();
  char chunk[16384];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !WaitReadable(static_cast<int>(left.count()))) {
      return all;
    }
    const int n = SSL_read(ssl_, chunk, sizeof chunk);
    if (n <= 0) {
      if (SSL_get_error(ssl_, n) == SSL_ERROR_WANT_READ) {
        continue;
      }
      return all;
    }
    all.append(chunk, static_cast<size_t>(n));
  }
}

void TlsClient::Close() {
  if (ssl_ != nullptr) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (socket_ >= 0) {
    ::close(socket_);
    socket_ = -1;
  }
}

void TlsClient::Reset() {
  if (socket_ >= 0) {
    linger option{1, 0};
    setsockopt(socket_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  }
  Close();
}

}  // namespace testing_support
