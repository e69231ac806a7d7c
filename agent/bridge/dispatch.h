// Routing of request lines to the bridge's commands.
#pragma once

#include <openssl/ssl.h>

#include "agent/bridge/bridge_host.h"
#include "agent/endpoint/value_buffer.h"

// Answers the request whose line (method and target, without the protocol) is in `requestLine`.
void DispatchRequest(SSL* connection, ValueBuffer& requestLine, BridgeHost& frame);
