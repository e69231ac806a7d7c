#include "loginmodule/card_session.h"

#include <openssl/crypto.h>

#include <cstring>
#include <iterator>
#include <string_view>

#include "loginmodule/card_call.h"
#include "loginmodule/hex_encode.h"
#include "loginmodule/sha1.h"
#include "platform/text_conversion.h"

namespace {

// The call's working areas; their sizes are the module's limits.
constexpr size_t kDataAreaSize = 1024;
constexpr size_t kPinAreaSize = 1024;
constexpr size_t kLabelValueSize = 64;
constexpr size_t kSignatureAreaSize = 1024;
constexpr size_t kKeyValueAreaSize = 1024;

// What a too long data text or PIN gives. Values from the library that would not fit their area
// give CKR_BUFFER_TOO_SMALL with the step's label, as a library keeping to the standard reports
// them.
constexpr Failure kDataTooLong{CKR_DATA_LEN_RANGE, "Data too long"};
constexpr Failure kPinTooLong{CKR_PIN_LEN_RANGE, "PIN too long"};

// The DER DigestInfo header for SHA-1 (RFC 8017, 9.2, note 1). The library adds the PKCS #1
// v1.5 padding to header and digest itself.
constexpr unsigned char kSha1DigestInfoPrefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                                   0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
constexpr size_t kBlockSize = sizeof kSha1DigestInfoPrefix + kSha1DigestSize;

// The PIN in the ANSI code page, wiped when the call ends whatever the outcome.
struct PinArea {
  PinArea() = default;
  PinArea(const PinArea&) = delete;
  PinArea& operator=(const PinArea&) = delete;
  ~PinArea() { OPENSSL_cleanse(bytes, sizeof bytes); }

  CK_UTF8CHAR bytes[kPinAreaSize] = {};
  CK_ULONG length = 0;
};

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Converts one character at a time: each piece is short enough to stay inside the string object
// and is wiped at once, so no heap buffer is left holding the PIN. False when it does not fit.
bool StorePin(std::u16string_view pin, PinArea& area) {
  for (size_t i = 0; i < pin.size();) {
    const bool pair = IsHighSurrogate(pin[i]) && i + 1 < pin.size() && IsLowSurrogate(pin[i + 1]);
    const size_t units = pair ? 2 : 1;
    std::string piece = platform::WideToAnsi(pin.substr(i, units));
    const bool fits = piece.size() <= kPinAreaSize - area.length;
    if (fits) {
      std::memcpy(area.bytes + area.length, piece.data(), piece.size());
      area.length += piece.size();
    }
    OPENSSL_cleanse(piece.data(), piece.size());
    if (!fits) {
      return false;
    }
    i += units;
  }
  return true;
}

// The label is the value up to its first NUL byte.
std::string LabelText(const CK_BYTE* value, CK_ULONG length) {
  const auto* text = reinterpret_cast<const char*>(value);
  return std::string(text, strnlen(text, length));
}

std::optional<Failure> ValueTooLong(const CK_ATTRIBUTE& read, size_t areaSize) {
  if (read.ulValueLen > areaSize) {
    return Failure{CKR_BUFFER_TOO_SMALL, "getAttribute"};
  }
  return std::nullopt;
}

struct Signed {
  std::string label;
  CK_BYTE signature[kSignatureAreaSize] = {};
  CK_ULONG signatureLength = 0;
};

std::optional<Failure> Sign(CardCall& call, PinArea& pin, CK_BYTE (&block)[kBlockSize],
                            Signed& out) {
  if (auto failure = call.Open()) {
    return failure;
  }
  if (auto failure = call.Login(pin.bytes, pin.length)) {
    return failure;
  }
  CK_OBJECT_HANDLE key = 0;
  if (auto failure = call.FindKey(CKO_PRIVATE_KEY, key)) {
    return failure;
  }

  const CryptokiFunctions& f = call.functions();
  CK_BYTE labelValue[kLabelValueSize] = {};
  CK_ATTRIBUTE labelRead[] = {{CKA_LABEL, labelValue, sizeof labelValue}};
  CK_RV rv = f.C_GetAttributeValue(call.session(), key, labelRead, 1);
  if (rv != CKR_OK) {
    return Failure{rv, "getAttribute"};
  }
  if (auto failure = ValueTooLong(labelRead[0], sizeof labelValue)) {
    return failure;
  }
  out.label = LabelText(labelValue, labelRead[0].ulValueLen);

  CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
  rv = f.C_SignInit(call.session(), &mechanism, key);
  if (rv != CKR_OK) {
    return Failure{rv, "C_SignInit"};
  }
  constexpr Failure kSignatureTooLong{CKR_BUFFER_TOO_SMALL, "C_Sign"};
  CK_ULONG length = 0;
  rv = f.C_Sign(call.session(), block, kBlockSize, nullptr, &length);
  if (rv != CKR_OK) {
    return Failure{rv, "C_Sign"};
  }
  if (length > kSignatureAreaSize) {
    return kSignatureTooLong;
  }
  // The signature area itself is the buffer of the reported length, so nothing is allocated.
  rv = f.C_Sign(call.session(), block, kBlockSize, out.signature, &length);
  if (rv != CKR_OK) {
    return Failure{rv, "C_Sign"};
  }
  if (length > kSignatureAreaSize) {
    return kSignatureTooLong;
  }
  out.signatureLength = length;
  return std::nullopt;
}

struct PublicKey {
  std::string label;
  CK_BYTE exponent[kKeyValueAreaSize] = {};
  CK_ULONG exponentLength = 0;
  CK_BYTE modulus[kKeyValueAreaSize] = {};
  CK_ULONG modulusLength = 0;
};

std::optional<Failure> ReadKey(CardCall& call, PinPrompt& prompt, PinArea& pin, PublicKey& out) {
  if (auto failure = call.Open()) {
    return failure;
  }
  // Asked only now, so there is no prompt when the library or the card is missing.
  std::u16string entered = prompt.AskPin();
  const bool fits = StorePin(entered, pin);
  OPENSSL_cleanse(entered.data(), entered.size() * sizeof(char16_t));
  if (!fits) {
    return kPinTooLong;
  }
  if (pin.length == 0) {
    return Failure{kCodeNotFound, "C_Login"};
  }
  if (auto failure = call.Login(pin.bytes, pin.length)) {
    return failure;
  }
  CK_OBJECT_HANDLE key = 0;
  if (auto failure = call.FindKey(CKO_PUBLIC_KEY, key)) {
    return failure;
  }

  CK_BYTE labelValue[kLabelValueSize] = {};
  CK_ATTRIBUTE keyRead[] = {{CKA_LABEL, labelValue, sizeof labelValue},
                            {CKA_PUBLIC_EXPONENT, out.exponent, sizeof out.exponent},
                            {CKA_MODULUS, out.modulus, sizeof out.modulus}};
  const CK_RV rv = call.functions().C_GetAttributeValue(call.session(), key, keyRead, 3);
  if (rv != CKR_OK) {
    return Failure{rv, "getAttribute"};
  }
  const size_t areaSizes[] = {sizeof labelValue, kKeyValueAreaSize, kKeyValueAreaSize};
  for (size_t i = 0; i < std::size(keyRead); ++i) {
    if (auto failure = ValueTooLong(keyRead[i], areaSizes[i])) {
      return failure;
    }
  }
  out.label = LabelText(labelValue, keyRead[0].ulValueLen);
  out.exponentLength = keyRead[1].ulValueLen;
  out.modulusLength = keyRead[2].ulValueLen;
  return std::nullopt;
}

std::ptrdiff_t Length(CK_ULONG length) {
  return static_cast<std::ptrdiff_t>(length);
}

}  // namespace

std::string SignWithCardKey(const char16_t* pin, const char16_t* data) {
  const std::string dataText = platform::WideToAnsi({data, platform::WideLength(data)});
  if (dataText.size() > kDataAreaSize) {
    return FailureLine(kDataTooLong);
  }
  CK_BYTE block[kBlockSize] = {};
  std::memcpy(block, kSha1DigestInfoPrefix, sizeof kSha1DigestInfoPrefix);
  const auto digest =
      Sha1Digest(reinterpret_cast<const unsigned char*>(dataText.data()), dataText.size());
  std::memcpy(block + sizeof kSha1DigestInfoPrefix, digest.data(), digest.size());

  PinArea pinArea;
  if (!StorePin({pin, platform::WideLength(pin)}, pinArea)) {
    return FailureLine(kPinTooLong);
  }

  CardCall call;
  Signed out;
  const std::optional<Failure> failure = Sign(call, pinArea, block, out);
  call.Close();
  if (failure) {
    return FailureLine(*failure);
  }
  return SuccessLine(out.label, {HexEncode(out.signature, Length(out.signatureLength))});
}

std::string ReadCardPublicKey(PinPrompt& prompt) {
  PinArea pinArea;
  CardCall call;
  PublicKey out;
  const std::optional<Failure> failure = ReadKey(call, prompt, pinArea, out);
  call.Close();
  if (failure) {
    return FailureLine(*failure);
  }
  return SuccessLine(out.label, {HexEncode(out.exponent, Length(out.exponentLength)),
                                 HexEncode(out.modulus, Length(out.modulusLength))});
}
