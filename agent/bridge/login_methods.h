// Calling the login module's methods ("sign", "getKey").
#pragma once

#include <openssl/ssl.h>

#include "agent/bridge/bridge_host.h"
#include "agent/bridge/request_fields.h"

// Answers ExecMethod for a loaded login module (the method name is pair 0's value) with the
// module's text and code 0, or -1 and no text when the method or its export is not there.
void CallLoginMethod(BridgeHost& frame, PluginModule& record, SSL* connection,
                     RequestFields& fields);
