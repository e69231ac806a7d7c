// The one line of text every card operation returns, success or failure.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "loginmodule/cryptoki.h"

// The module's own failure codes, beside the CK_RVs that library calls return.
inline constexpr CK_RV kCodeLibraryUnusable = 991;  // not loaded, or an entry point missing
inline constexpr CK_RV kCodeNoToken = 990;
inline constexpr CK_RV kCodeNotFound = 5;  // no key object; for getKey also: no PIN entered

// A failed step: the code and the label that names the step.
struct Failure {
  CK_RV code;
  const char* label;
};

// "<code>,<label>", the code printed as the signed 32-bit value of its low 32 bits, so vendor
// codes from 0x80000000 up come out negative.
std::string FailureLine(const Failure& failure);

// "0,<label>,<field>,...": the label as the card gave it, then the hexadecimal fields.
std::string SuccessLine(std::string_view label, std::initializer_list<std::string_view> fields);
