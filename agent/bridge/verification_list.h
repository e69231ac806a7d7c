// The signed list of permitted module files ("Ostrabel.ini") and the checks made with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "agent/endpoint/value_buffer.h"

struct VerificationEntry {
  std::u16string name;  // as written in the list
  ValueBuffer digest;   // 32 bytes, or empty when the list gave no 64-digit digest
  int32_t size = 0;
};

struct VerificationList {
  std::vector<VerificationEntry> entries;
  ValueBuffer VerificationSalt;  // SHA-256 of the agent's built-in server certificate
  std::u16string directory;      // the list file's folder
};

// Rebuilds the entries from the list file; false (and no entries) when it cannot be read or is
// malformed (odd or non-hex text, a length that is not whole blocks, a block the key rejects).
bool LoadVerificationList(const std::string& listPath, VerificationList& list);
// The index of the entry named `fileName` (case-insensitive), or -1.
int FindVerificationEntry(const VerificationList& list, const char* fileName);
// True when the entry's file in the list's folder has the listed size and salted digest.
bool VerifyModuleFile(const VerificationList& list, int index);
// The same check on bytes already read, so that what is checked is what gets copied.
bool VerifyModuleBytes(const VerificationList& list, int index, const ValueBuffer& bytes);

bool ReadWholeFile(const std::string& path, ValueBuffer& buffer);
bool HexDecode(ValueBuffer& buffer, const char* text);
void Sha256Digest(ValueBuffer& buffer, const void* data, size_t length);
