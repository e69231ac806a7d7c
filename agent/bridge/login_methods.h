// Calling the login module's methods ("sign", "getKey").
#pragma once

#include <openssl/ssl.h>

#include "agent/bridge/bridge_host.h"
#include "agent/bridge/request_fields.h"

// Answers ExecMethod for a loaded login module (the method name is pair 0's value). A sign or
// getKey that arrives while another login call waits in its PIN prompt is answered -1 uncalled.
void CallLoginMethod(BridgeHost& frame, PluginModule& record, SSL* connection,
                     RequestFields& fields);
