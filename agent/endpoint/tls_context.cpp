#include "agent/endpoint/tls_context.h"

#include <openssl/err.h>

#include <csignal>

#include "agent/log/log_writer.h"

void InitializeTlsLibrary() {
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
  // A peer that has gone must cost a failed write, not the process.
  std::signal(SIGPIPE, SIG_IGN);
}

void ReleaseTlsLibrary() {
  // The library frees its error strings and tables itself at process end.
}

bool CreateServerContext(EndpointHost& frame) {
  frame.ServerContext = SSL_CTX_new(TLS_server_method());
  if (frame.ServerContext == nullptr) {
    LogError(frame, "SSL_CTX_new(method) return NULL");
    return false;
  }
  return InstallServerCredentials(frame, frame.ServerContext, frame.ServerCertificate.data(),
                                  frame.ServerCertificateSize, frame.ServerPrivateKey.data(),
                                  frame.ServerPrivateKeySize);
}

void ReleaseServerContext(EndpointHost& frame) {
  if (frame.ServerContext != nullptr) {
    SSL_CTX_free(frame.ServerContext);
    frame.ServerContext = nullptr;
  }
}

bool InstallServerCredentials(LogStore& frame, SSL_CTX* context, const uint8_t* certificate,
                              int32_t certificateSize, const uint8_t* privateKey,
                              int32_t privateKeySize) {
  ERR_clear_error();
  if (certificate == nullptr ||
      SSL_CTX_use_certificate_ASN1(context, certificateSize, certificate) <= 0) {
    LogError(frame, "SSL_CTX_use_certificate_ASN1() <= 0");
    return false;
  }
  if (privateKey == nullptr ||
      SSL_CTX_use_PrivateKey_ASN1(EVP_PKEY_RSA, context, privateKey, privateKeySize) <= 0) {
    LogError(frame, "SSL_CTX_use_PrivateKey_ASN1() <= 0");
    return false;
  }
  if (SSL_CTX_check_private_key(context) == 0) {
    LogError(frame, "Private key does not match the public certificate");
    return false;
  }
  return true;
}
