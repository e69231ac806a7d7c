// Decoding one raw query value ("+" and "%XX") into UTF-16.
#pragma once

#include "agent/endpoint/value_buffer.h"

// Resets `target` and fills it with the decoded `raw` (null or empty: stays empty). A value with
// any "%" escape is read as strict UTF-8 and left empty when it is not valid; one without is
// read in the ANSI code page. An escape giving the byte 0 adds nothing; one that is not two hex
// digits adds nothing and consumes the characters it has, never more than exist.
void UrlDecodeField(ValueBuffer& target, const char* raw);
