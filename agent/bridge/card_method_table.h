// The card module's method table: which methods a page may call, and how each export is called.
#pragma once

#include <cstdint>
#include <string>

#include "agent/bridge/request_fields.h"

enum class CardMethodShape {
  kAgentVersion,      // answered by the agent, never by the module
  kText,              // const char16_t* ()
  kInteger,           // int32_t ()
  kTextOfInteger,     // const char16_t* (int32_t Param1)
  kIntegerOfText,     // int32_t (const char16_t* Param1)
  kIntegerOfTwoTexts  // int32_t (const char16_t* Param1, const char16_t* Param2)
};

struct CardMethod {
  const char* name;   // the method name a page sends, and the export's plain name
  int argumentBytes;  // for the decorated export name
  CardMethodShape shape;
};

// The row named exactly `method` (case-sensitive), or null: no other export can be reached.
const CardMethod* FindCardMethod(const char* method);

// Calls `function` with the row's arguments taken from the request's parameters and gives its
// result as text.
std::u16string InvokeCardMethod(const CardMethod& row, void* function, const RequestFields& fields);

// Param N as a text argument: its UTF-16 text, or null when it is empty.
const char16_t* TextArgument(const RequestFields& fields, int index);
// A decimal number as wcstol reads it with base 10 (white space, sign, digits up to the first
// other character), kept within 32 bits; 0 for null or no digits.
int32_t IntegerArgument(const char16_t* text);
