// Routing of request lines to the bridge's commands.
#pragma once

#include <openssl/ssl.h>

#include "agent/bridge/bridge_host.h"
#include "agent/bridge/request_fields.h"
#include "agent/endpoint/value_buffer.h"

// Answers the request whose line (method and target, without the protocol) is in `requestLine`.
// Writes zero bytes into the line while splitting it.
void DispatchRequest(SSL* connection, ValueBuffer& requestLine, BridgeHost& frame);

// Splits `query` (the text after "?", written into) at "&" and stores the known fields in
// `fields`: the command and DLLToken raw, Param1 to Param9 decoded. Repeated fields join.
void ReadQueryFields(char* query, RequestFields& fields);
