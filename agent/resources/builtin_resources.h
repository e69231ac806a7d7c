// The binary resources compiled into the program: the endpoint's certificate (type "LOCALHOST",
// id 314, DER X.509) and its private key ("LOCALHOST", 315, DER PKCS#1 RSAPrivateKey); and the
// public key that opens the module list.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

inline constexpr std::string_view kLocalhostResourceType = "LOCALHOST";
inline constexpr int kServerCertificateResource = 314;
inline constexpr int kServerPrivateKeyResource = 315;

// Returns the bytes of a built-in binary resource, empty when there is none.
// The type is compared exactly. The bytes live as long as the program.
std::span<const uint8_t> FindBinaryResource(std::string_view type, int id);

// The RSA public key (SubjectPublicKeyInfo PEM text) that opens the module list "Ostrabel.ini".
// Lives as long as the program.
std::string_view BuiltinListPublicKey();
