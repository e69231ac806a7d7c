// The two operations on the card, each one whole PKCS#11 session against "QORVPKCS11.dll".
// Every outcome is one result line in the ANSI code page: "0,<label>,<hex>" on success,
// "<code>,<label>" (or as the failure table gives) otherwise.
#pragma once

#include <string>

#include "loginmodule/pin_prompt.h"

// Signs the data's SHA-1 DigestInfo with the card's RSA key (CKM_RSA_PKCS), logging in with
// `pin`. Null texts count as empty.
std::string SignWithCardKey(const char16_t* pin, const char16_t* data);
// Reads the label, public exponent and modulus of the card's key after asking for the PIN;
// the prompt is shown only once a session on the card is open.
std::string ReadCardPublicKey(PinPrompt& prompt);
