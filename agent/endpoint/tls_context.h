// The TLS library and the server context with the built-in credentials.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>

#include "agent/endpoint/endpoint_host.h"

// Once per process, while the frame is constructed.
void InitializeTlsLibrary();
// When the frame is destroyed; the library keeps nothing that needs releasing by hand.
void ReleaseTlsLibrary();

// Creates ServerContext and installs ServerCertificate and ServerPrivateKey into it.
bool CreateServerContext(EndpointHost& frame);
void ReleaseServerContext(EndpointHost& frame);

// Loads a DER certificate and a DER PKCS#1 RSA key into `context` and checks that they match.
bool InstallServerCredentials(LogStore& frame, SSL_CTX* context, const uint8_t* certificate,
                              int32_t certificateSize, const uint8_t* privateKey,
                              int32_t privateKeySize);
