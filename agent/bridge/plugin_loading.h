// InitDLL and ExecMethod: verifying, copying and loading modules under tokens, and expiring them.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <string>

#include "agent/bridge/bridge_host.h"
#include "agent/bridge/request_fields.h"

void HandleInitDll(SSL* connection, BridgeHost& frame, RequestFields& fields);
void HandleExecMethod(const char* token, BridgeHost& frame, SSL* connection, RequestFields& fields);

bool IsModuleExpired(const PluginModule& record, uint32_t now);
void ApplyIdleLimit(BridgeHost& frame, int32_t minutes);

std::string RandomHex(int count);
std::string MakeCopySuffix();
bool CopyModuleToTemp(BridgeHost& frame, const std::string& fileName, const std::string& copyName);
