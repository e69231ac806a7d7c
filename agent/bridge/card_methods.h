// Calling the card module's methods, and the method call convention both module kinds share.
#pragma once

#include <openssl/ssl.h>

#include <string>

#include "agent/bridge/bridge_host.h"
#include "agent/bridge/request_fields.h"

// Answers ExecMethod for a loaded card module (the method name is pair 0's value).
void CallCardMethod(BridgeHost& frame, PluginModule& record, SSL* connection,
                    RequestFields& fields);
// The export of `method` taking `argumentBytes`: the plain name first, then "_%s@%d".
void* ResolveMethodExport(void* moduleHandle, const char* method, int argumentBytes);
// Logs the parameters a method reads; values that carry a PIN are masked.
void LogRequestParameters(BridgeHost& frame, const RequestFields& fields);
