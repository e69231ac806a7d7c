// InitDLL and ExecMethod: verifying, copying and loading modules under tokens, and expiring them.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <string>

#include "agent/bridge/bridge_host.h"
#include "agent/bridge/request_fields.h"
#include "agent/endpoint/value_buffer.h"

void HandleInitDll(SSL* connection, BridgeHost& frame, RequestFields& fields);
void HandleExecMethod(const char* token, BridgeHost& frame, SSL* connection, RequestFields& fields);

// True when the record has a positive limit and more than that many minutes have passed since its
// last use (the tick difference taken with wrap-around).
bool IsModuleExpired(const PluginModule& record, uint32_t now);
// Gives every record that has not expired the new limit and a fresh last use (minutes > 0).
void ApplyIdleLimit(BridgeHost& frame, int32_t minutes);

// `count` random bytes as upper-case hex; empty when no random bytes could be had.
std::string RandomHex(int count);
// 8-4-4-4-12 hex digits; empty when no random bytes could be had.
std::string MakeCopySuffix();
// Writes the verified `bytes` as the new file `copyName` in TempDirectory; false (and nothing
// left on disk) when TempDirectory is empty, the copy exists already or cannot be written.
bool CopyModuleToTemp(BridgeHost& frame, const ValueBuffer& bytes, const std::string& copyName);

// Unloads the record's module (if loaded) and deletes its copy; failures are ignored.
void ReleaseModuleCopy(PluginModule& record);
// Drops the record: releases it and empties its slot, or, while a call into it is in progress,
// hides it from lookups and leaves the rest to the end of the call.
void DropModuleRecord(BridgeHost& frame, PluginModule& record);
// The first live record whose token (loadTick as a signed number) is `token`, or null.
PluginModule* FindModuleByToken(BridgeHost& frame, int32_t token);

// Marks a call into the record's module for its duration; when the last call ends, a release or
// drop that fell due meanwhile is carried out (the record may be gone afterwards).
class ModuleCall {
 public:
  ModuleCall(BridgeHost& frame, PluginModule& record);
  ~ModuleCall();
  ModuleCall(const ModuleCall&) = delete;
  ModuleCall& operator=(const ModuleCall&) = delete;

 private:
  BridgeHost& frame_;
  PluginModule& record_;
};
