// RequestFields: one parsed request. Pair 0 is the command ("InitDLL" or "ExecMethod") with its
// raw value; pairs 1 to 9 are Param1 to Param9 with their decoded values as UTF-16.
#pragma once

#include "agent/endpoint/value_buffer.h"

struct FieldPair {
  ValueBuffer name;
  ValueBuffer value;
};

struct RequestFields {
  FieldPair pairs[10];
  ValueBuffer token;     // the raw value of "DLLToken", narrow
  ValueBuffer decoding;  // the decoded value of the field being read, wide
};
