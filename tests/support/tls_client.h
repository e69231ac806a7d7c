// A blocking TLS client for tests: connects to 127.0.0.1, verifies the agent's certificate with
// the development authority, sends bytes and reads answers.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <string>

namespace testing_support {

class TlsClient {
 public:
  TlsClient() = default;
  ~TlsClient();
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  // TCP connect only (no handshake).
  bool ConnectTcp(int port);
  // TCP connect and TLS handshake, verifying the certificate for 127.0.0.1.
  bool Connect(int port);
  bool Send(const std::string& bytes);
  // Reads one answer: the header block and as many body bytes as its Content-Length gives.
  // Empty on error or time-out.
  std::string ReadResponse(int timeoutMs = 5000);
  // Reads until the peer closes (or the time-out); returns all bytes.
  std::string ReadUntilClosed(int timeoutMs = 5000);
  // Closes the TCP connection without a TLS closure alert.
  void Close();
  // Closes with a reset (SO_LINGER 0).
  void Reset();
  int socket() const { return socket_; }
  SSL* ssl() const { return ssl_; }

 private:
  bool WaitReadable(int timeoutMs);
  int socket_ = -1;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  std::string pending_;
};

// The path of the development authority certificate in the source tree.
std::string DevelopmentCaPath();

// The body of an answer ("||code||text||"), or empty.
std::string BodyOf(const std::string& response);

}  // namespace testing_support
