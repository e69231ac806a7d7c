// The entries that the plain text of a module list yields. A pure function of the text, so it can
// be fed anything.
#pragma once

#include <string_view>
#include <vector>

#include "agent/bridge/verification_list.h"

// Reads `plain` up to its first zero byte (or its end) as lines separated by CR LF, each
// "NAME = DIGEST.SIZE". Lines without "=", or whose trimmed value is 40 characters or fewer or
// holds no ".", make no entry. A digest text that is not 64 hex digits leaves the digest empty.
std::vector<VerificationEntry> ParseListText(std::string_view plain);
